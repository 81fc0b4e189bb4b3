#!/usr/bin/env bash
# A real full disk: vnlt saving and exporting onto a tiny tmpfs (in a mount
# namespace of our own), or onto /dev/full where namespaces are refused.
# Usage: full_disk_test.sh VNLT SHIPPED_DAT [WINE]
set -uo pipefail
vnlt="$1"
shipped="$2"
wine="${3:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
run_vnlt() { if [ -n "$wine" ]; then "$wine" "$vnlt" "$@"; else "$vnlt" "$@"; fi; }
export -f run_vnlt 2>/dev/null || true

"$vnlt" --dat "$shipped" export "$work/national.txt" 2>/dev/null ||
    run_vnlt --dat "$shipped" export "$work/national.txt"
printf '\xff\xfe1\x00\t\x00a\x00\t\x00b\x00\r\x00\n\x00' >"$work/one.txt"

if [ -z "$wine" ] && unshare -rm true 2>/dev/null; then
    cat >"$work/inside.sh" <<INSIDE
set -u
mkdir -p "$work/disk"
mount -t tmpfs -o size=256k tmpfs "$work/disk" || exit 3
cp "$work/one.txt" "$work/disk/one.txt"
"$vnlt" --dat "$work/disk/Varnolt.dat" import "$work/one.txt" || exit 4
cp "$work/disk/Varnolt.dat" "$work/old.dat"
"$vnlt" --dat "$work/disk/Varnolt.dat" import "$work/national.txt" 2>"$work/save.err"
echo \$? >"$work/save.code"
cmp -s "$work/disk/Varnolt.dat" "$work/old.dat" && echo same >"$work/save.same"
ls "$work/disk" >"$work/disk.list"
"$vnlt" --dat "$shipped" export "$work/disk/out.txt" 2>"$work/export.err"
echo \$? >"$work/export.code"
ls "$work/disk" >"$work/disk.after"
INSIDE
    unshare -rm bash "$work/inside.sh"
    echo "inside a tmpfs of 256 KiB:"
    check "a save that does not fit fails (exit 2)" [ "$(cat "$work/save.code")" = 2 ]
    check "in the program's words" grep -q "保存失败" "$work/save.err"
    check "the old directory file is intact" [ -f "$work/save.same" ]
    check "no temporary file is left" [ "$(cat "$work/disk.list")" = "$(printf 'Varnolt.dat\none.txt')" ]
    check "an export that does not fit fails (exit 2)" [ "$(cat "$work/export.code")" = 2 ]
    check "and leaves no cut-off file" [ "$(cat "$work/disk.after")" = "$(printf 'Varnolt.dat\none.txt')" ]
else
    echo "onto /dev/full:"
    run_vnlt --dat "$work/Varnolt.dat" import "$work/one.txt" >/dev/null 2>&1
    cp "$work/Varnolt.dat" "$work/old.dat"
    ln -s /dev/full "$work/Varnolt.da~"  # the save's temporary file
    run_vnlt --dat "$work/Varnolt.dat" add 2 c d 2>"$work/save.err"
    check "a save whose writes fail fails (exit 2)" [ $? = 2 ]
    check "the old directory file is intact" cmp -s "$work/Varnolt.dat" "$work/old.dat"
    check "/dev/full is still there" [ -c /dev/full ]
    ln -sf /dev/full "$work/out.txt"
    run_vnlt --dat "$work/Varnolt.dat" export "$work/out.txt" 2>"$work/export.err"
    check "an export whose writes fail fails (exit 2)" [ $? = 2 ]
    check "/dev/full is still there" [ -c /dev/full ]
fi
exit "$failed"
