#!/usr/bin/env bash
# A real full disk: vnlt saving and exporting onto /dev/full, natively and
# under Wine. Every write's failure, one by one, is the unit tests' (test_faults).
# Usage: full_disk_test.sh VNLT SHIPPED_DAT [WINE]
set -uo pipefail
vnlt="$1" wine="${3:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
check() { if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
run_vnlt() { ${wine:+"$wine"} "$vnlt" "$@"; }

printf '\xff\xfe1\x00\t\x00a\x00\t\x00b\x00\r\x00\n\x00' >"$work/one.txt"
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
exit "$failed"
