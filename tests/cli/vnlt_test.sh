#!/usr/bin/env bash
# End-to-end tests of vnlt, through its process: answers on the shipped
# directory in each list format and from files in each encoding, add and
# lookup, import and export, exit codes and error lines, and where it finds
# its directory.
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
utf16() { { printf '\xff\xfe'; printf '%b' "$1" | iconv -f UTF-8 -t UTF-16LE; } >"$2"; }

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
run --dat "$shipped" query "+86 139 1234 5678" "１３９１２３４５６７８" "+86 10 1234 5678" "(+86) 755-8888-8888"
check "written numbers: the country code, fullwidth digits, trunk 0 put back" out_is "+86 139 1234 5678	江苏省常州市	中国移动
１３９１２３４５６７８	江苏省常州市	中国移动
+86 10 1234 5678	北京市	固定电话
(+86) 755-8888-8888	广东省深圳市	固定电话"

# CSV: UTF-8 with its mark, CR LF, a header, RFC 4180 quoting.
run --dat "$shipped" query --format csv 13912345678 '0851 1234567' 1300003 '1,"2"'
printf '\xef\xbb\xbfnumber,key,found,area,type,province,city,areaCode,status\r
13912345678,1391234,true,江苏省常州市,中国移动,江苏省,常州市,0519,found\r
0851 1234567,8511,true,贵州省贵阳市、遵义市、安顺市,固定电话,贵州省,贵阳市、遵义市、安顺市,0851,found\r
1300003,1300003,true,中国,中国联通,,,,found\r
"1,""2""",0,false,,,,,,invalid\r
' >"$work/expected.csv"
check "csv: mark, header, CR LF, quoting, byte for byte" cmp -s "$work/out" "$work/expected.csv"
check "csv: something not found: exit 1" code_is 1

# JSON lines: one object a line with every key, escapes intact.
# shellcheck disable=SC1003  # a quote and a backslash, as a number's text
run --dat "$shipped" query --format jsonl 18612345678 '"\' 
check "jsonl" out_is '{"number":"18612345678","key":1861234,"found":true,"status":"found","area":"北京市","type":"中国联通","province":"北京市","city":"北京市","areaCode":"010"}
{"number":"\"\\","key":0,"found":false,"status":"invalid","area":"","type":"","province":"","city":"","areaCode":""}'
printf '13912345678\n\xff\xfe\n\x01\x1f\xf0\x9f\x98\x80\n' | "$vnlt" --dat "$shipped" query --format jsonl >"$work/out"
check "jsonl: malformed UTF-8 and control characters still give JSON, the rest kept" /usr/bin/python3 -c '
import json, sys
answers = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert answers[2]["number"] == "\x01\x1f\U0001F600", answers[2]' "$work/out"
run --dat "$shipped" query --format jsonl 13912345678
check "jsonl: all found: exit 0" code_is 0

# --input in each encoding gives the same answers.
printf '13912345678\r\n0755 8888 8888\r\n' >"$work/numbers.txt"
run --dat "$shipped" query --input "$work/numbers.txt"
cp "$work/out" "$work/utf8.out"
check "--input: lines of a UTF-8 file" out_is "13912345678	江苏省常州市	中国移动
0755 8888 8888	广东省深圳市	固定电话"
{ printf '\xef\xbb\xbf'; cat "$work/numbers.txt"; } >"$work/marked.txt"
utf16 '13912345678\r\n0755 8888 8888\r\n' "$work/utf16.txt"
for encoded in marked utf16; do
    run --dat "$shipped" query --input "$work/$encoded.txt"
    check "--input: $encoded" cmp -s "$work/out" "$work/utf8.out"
done
run --dat "$shipped" query --input "$work/missing.txt"
check "--input of a missing file: exit 2" code_is 2
check "and says which" err_has "missing.txt"

# An Excel user's GBK CSV: a header, quoted fields with commas, quotes and a
# line end, CR LF rows, a blank line and a short row.
printf '姓名,电话,备注\r\n"张,三",139 1234 5678,"说""好"""\r\n李四,"+86 755 8888 8888","两\r\n行"\r\n\r\n王五,1234\r\n' |
    iconv -f UTF-8 -t GBK >"$work/contacts.csv"
run --dat "$shipped" query --input "$work/contacts.csv" --column 2
printf '\xef\xbb\xbf姓名,电话,备注,key,found,area,type,province,city,areaCode,status\r
"张,三",139 1234 5678,"说""好""",1391234,true,江苏省常州市,中国移动,江苏省,常州市,0519,found\r
李四,+86 755 8888 8888,"两\r
行",755,true,广东省深圳市,固定电话,广东省,深圳市,0755,found\r
\r
王五,1234,,0,false,,,,,,invalid\r
' >"$work/expected.csv"
check "--column: a GBK CSV comes back as UTF-8 CSV with the answer's columns" cmp -s "$work/out" "$work/expected.csv"
check "--column: a number not found: exit 1" code_is 1
printf '名\t号\n甲\t13912345678\n' | "$vnlt" --dat "$shipped" query --column 2 >"$work/out"; echo $? >"$work/code"
check "--column: TSV by its first line, rows back as TSV" out_is "名	号	key	found	area	type	province	city	areaCode	status
甲	13912345678	1391234	true	江苏省常州市	中国移动	江苏省	常州市	0519	found"
check "--column: all found: exit 0" code_is 0
printf '甲,１３９１２３４５６７８\n' | "$vnlt" --dat "$shipped" query --column 2 >"$work/out"
printf '\xef\xbb\xbf甲,１３９１２３４５６７８,1391234,true,江苏省常州市,中国移动,江苏省,常州市,0519,found\r\n' >"$work/expected.csv"
check "--column: a first row whose number is in fullwidth digits is no header" cmp -s "$work/out" "$work/expected.csv"
printf '13912345678,x\n' | "$vnlt" --dat "$shipped" query --column 1 --format jsonl >"$work/out"
check "--column with jsonl: the row and the answer" out_is '{"row":["13912345678","x"],"number":"13912345678","key":1391234,"found":true,"status":"found","area":"江苏省常州市","type":"中国移动","province":"江苏省","city":"常州市","areaCode":"0519"}'

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
check "no command: usage" err_has "Usage: vnlt"
run --dat "$dat" lookup
check "missing argument: exit 2" code_is 2
run --help
check "--help: exit 0" code_is 0
run query --help
check "help for a command" grep -q -- "--column" "$work/out"
for bad in "--format xml" "--column 0" "--column x" "--frobnicate"; do
    # shellcheck disable=SC2086  # the options are words
    run --dat "$shipped" query $bad 13912345678
    check "query $bad: exit 2" code_is 2
done
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
mkdir -p "$work/alone"
cp "$vnlt" "$work/alone/vnlt"
HOME="$home" XDG_DATA_HOME="" "$work/alone/vnlt" query 13912345678 >"$work/out" 2>"$work/err"; echo $? >"$work/code"
check "no directory anywhere: exit 2" code_is 2
check "and says where it looked" err_has "no directory file: none beside vnlt"
HOME="$home" XDG_DATA_HOME="" "$work/alone/vnlt" serve --listen 127.0.0.1:0 >"$work/out" 2>"$work/err"
echo $? >"$work/code"
check "nor does serve start without one" code_is 2
check "and says so the same way" err_has "no directory file: none beside vnlt"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
