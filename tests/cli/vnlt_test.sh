#!/usr/bin/env bash
# End-to-end tests of vnlt, through its process: answers on the shipped
# directory, add and lookup, import and export, exit codes and error lines.
# Usage: vnlt_test.sh VNLT SHIPPED_DAT VERSION
set -uo pipefail
vnlt="$1"
shipped="$2"
version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

check() {  # description, then the test command
    local what="$1"; shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what" >&2; fi
}
# Runs vnlt, keeping its output, error text and exit code.
run() { "$vnlt" "$@" >"$work/out" 2>"$work/err"; echo $? >"$work/code"; }
code_is() { [ "$(cat "$work/code")" = "$1" ]; }
out_is() { [ "$(cat "$work/out")" = "$1" ]; }
err_has() { grep -qF -- "$1" "$work/err"; }
utf16() { { printf '\xff\xfe'; printf "$1" | iconv -f UTF-8 -t UTF-16LE; } >"$2"; }

# Known numbers of several provinces and all three carriers, and fixed lines
# of 010, 02x, three-digit and 08xy codes.
expected="13912345678	江苏省常州市	中国移动
18612345678	北京市	中国联通
18912345678	江苏省常州市	中国电信
15012345678	云南省昭通市	中国移动
+86 138-0013-8000	北京市	中国移动
0086 (177) 1234.5678	江苏省常州市	中国电信
01012345678	北京市	固定电话
021-12345678	上海市	固定电话
02787654321	湖北省武汉市	固定电话
0755 8888 8888	广东省深圳市	固定电话
057188888888	浙江省杭州市	固定电话
08511234567	贵州省贵阳市、遵义市、安顺市	固定电话
08711234567	云南省昆明市	固定电话"
cut -f1 <<<"$expected" >"$work/numbers"
"$vnlt" --dat "$shipped" query <"$work/numbers" >"$work/out"; echo $? >"$work/code"
check "batch query from standard input" out_is "$expected"
check "all found: exit 0" code_is 0
run --dat "$shipped" query 13912345678 1234
check "arguments, one not found" out_is "13912345678	江苏省常州市	中国移动
1234		"
check "something not found: exit 1" code_is 1
printf '13912345678\r\n1861234' | "$vnlt" --dat "$shipped" query >"$work/out"
check "CR LF and a last line without a line end" out_is "13912345678	江苏省常州市	中国移动
1861234	北京市	中国联通"

# add, then lookup straight from the file.
dat="$work/Varnolt.dat"
run --dat "$dat" add 1391234 测试地区 测试类型
check "add into a new directory" code_is 0
run --dat "$dat" lookup 1391234
check "lookup finds the added key" out_is "1391234	测试地区	测试类型"
run --dat "$dat" lookup 1391235
check "lookup of an uncovered key: exit 1" code_is 1
cp "$dat" "$work/before"
run --dat "$dat" add 4194304 A B
check "add beyond 22 bits: exit 2" code_is 2
check "add failure in the program's words" err_has "记录添加失败。"
check "a failed add saves nothing" cmp -s "$dat" "$work/before"

# import, export, and the round trip.
utf16 '100\t北京\t固定电话\r\n101\t北京\t固定电话\r\n1391234\t新区\t新类\r\n' "$work/in.txt"
run --dat "$dat" import "$work/in.txt"
check "import" code_is 0
run --dat "$dat" export "$work/out.txt"
check "export" code_is 0
utf16 '100\t北京\t固定电话\r\n101\t北京\t固定电话\r\n1391234\t新区\t新类\r\n' "$work/expected.txt"
check "export writes every key" cmp -s "$work/out.txt" "$work/expected.txt"
run --dat "$work/copy.dat" import "$work/out.txt"
run --dat "$work/copy.dat" export "$work/again.txt"
check "round trip" cmp -s "$work/again.txt" "$work/expected.txt"
cp "$dat" "$work/before"
utf16 '102\tA\tB\r\n13912345678\tA\tB\r\n' "$work/bad.txt"
run --dat "$dat" import "$work/bad.txt"
check "a failing line: exit 2" code_is 2
check "import failure in the program's words" err_has "数据导入不成功。"
check "a failed import saves nothing" cmp -s "$dat" "$work/before"

# Usage and files that are missing or foreign.
run
check "no command: exit 2" code_is 2
check "no command: usage" err_has "usage: vnlt"
run --dat "$dat" lookup
check "missing argument: exit 2" code_is 2
run --help
check "--help: exit 0" code_is 0
run --version
check "--version" out_is "vnlt $version"
run --dat "$work/missing.dat" query 13912345678
check "query without a directory file: exit 2" code_is 2
check "says which file is missing" err_has "missing.dat"
printf 'not a directory' >"$work/foreign.dat"
run --dat "$work/foreign.dat" add 1 A B
check "a foreign file is refused" code_is 2
check "and left as it was" [ "$(cat "$work/foreign.dat")" = "not a directory" ]
run --dat "$dat" export "$work/no/such/folder/out.txt"
check "export to a missing folder: exit 2" code_is 2
check "export failure in the program's words" err_has "数据导出不成功。"
run --dat "$shipped" stats
check "stats in the program's words" grep -q "^记录: [0-9]* 条，占用: [0-9]* 字节$" "$work/out"

# Where vnlt finds its directory when --dat is not given: an installed layout
# with the packaged copy, then the user's own copy, then a file beside vnlt.
root="$work/root" home="$work/home"
mkdir -p "$root/usr/bin" "$root/usr/share/varnolt" "$home"
cp "$vnlt" "$root/usr/bin/vnlt"
cp "$shipped" "$root/usr/share/varnolt/Varnolt.dat"
installed() { HOME="$home" XDG_DATA_HOME="" "$root/usr/bin/vnlt" "$@" >"$work/out" 2>"$work/err"; echo $? >"$work/code"; }
installed query 13912345678
check "the packaged copy answers" out_is "13912345678	江苏省常州市	中国移动"
installed stats
check "stats names the packaged copy" grep -qx "文件: $root/usr/share/varnolt/Varnolt.dat" "$work/out"
installed add 1391234 测试地区 测试类型
own="$home/.local/share/varnolt/Varnolt.dat"
check "add from the packaged copy succeeds" code_is 0
check "and says it started the user's own copy" err_has "started your own copy $own from $root/usr/share/varnolt/Varnolt.dat"
check "the packaged copy is left as it was" cmp -s "$root/usr/share/varnolt/Varnolt.dat" "$shipped"
installed query 13912345678 18612345678
check "the user's copy answers the added entry and the rest" out_is "13912345678	测试地区	测试类型
18612345678	北京市	中国联通"
XDG_DATA_HOME="$work/xdg" HOME="$home" "$root/usr/bin/vnlt" add 1861234 甲 乙 2>/dev/null
check "XDG_DATA_HOME is where the user's copy goes" [ -f "$work/xdg/varnolt/Varnolt.dat" ]
cp "$dat" "$root/usr/bin/Varnolt.dat"
installed stats
check "a file beside vnlt comes first" grep -qx "文件: $root/usr/bin/Varnolt.dat" "$work/out"
rm "$root/usr/bin/Varnolt.dat" "$own"
HOME="" "$root/usr/bin/vnlt" query 13912345678 >"$work/out" 2>"$work/err"
check "without a home the packaged copy still answers" out_is "13912345678	江苏省常州市	中国移动"
HOME="" "$root/usr/bin/vnlt" add 1 A B >"$work/out" 2>"$work/err"; echo $? >"$work/code"
check "without a home an add has nowhere to go: exit 2" code_is 2
check "and says what to set" err_has "set HOME or XDG_DATA_HOME"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
