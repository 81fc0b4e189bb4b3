#!/usr/bin/env bash
# A real full disk: vnlt saving and exporting onto a tiny tmpfs (in a mount
# namespace of our own, where the script runs itself again), or onto
# /dev/full where namespaces are refused or under Wine.
# Usage: full_disk_test.sh VNLT SHIPPED_DAT [WINE]
set -uo pipefail
vnlt="$1" shipped="$2" wine="${3:-}"
if [ -z "$wine" ] && [ -z "${VARNOLT_IN_NAMESPACE:-}" ] && unshare -rm true 2>/dev/null; then
    VARNOLT_IN_NAMESPACE=1 exec unshare -rm bash "$0" "$@"
fi
work="$(mktemp -d)"
trap 'umount "$work/disk" 2>/dev/null; rm -rf "$work"' EXIT
failed=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
run_vnlt() { ${wine:+"$wine"} "$vnlt" "$@"; }

run_vnlt --dat "$shipped" export "$work/national.txt"
printf '\xff\xfe1\x00\t\x00a\x00\t\x00b\x00\r\x00\n\x00' >"$work/one.txt"

if [ -n "${VARNOLT_IN_NAMESPACE:-}" ]; then
    echo "inside a tmpfs of 256 KiB:"
    disk="$work/disk"
    mkdir "$disk" && mount -t tmpfs -o size=256k tmpfs "$disk" || exit 3
    cp "$work/one.txt" "$disk/one.txt"
    "$vnlt" --dat "$disk/Varnolt.dat" import "$work/one.txt" || exit 4
    cp "$disk/Varnolt.dat" "$work/old.dat"
    "$vnlt" --dat "$disk/Varnolt.dat" import "$work/national.txt" 2>"$work/save.err"
    check "a save that does not fit fails (exit 2)" [ $? = 2 ]
    check "in the program's words" grep -q "保存失败" "$work/save.err"
    check "the old directory file is intact" cmp -s "$disk/Varnolt.dat" "$work/old.dat"
    check "no temporary file is left" [ "$(ls "$disk")" = "$(printf 'Varnolt.dat\none.txt')" ]
    "$vnlt" --dat "$shipped" export "$disk/out.txt" 2>/dev/null
    check "an export that does not fit fails (exit 2)" [ $? = 2 ]
    check "and leaves no cut-off file" [ "$(ls "$disk")" = "$(printf 'Varnolt.dat\none.txt')" ]
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
