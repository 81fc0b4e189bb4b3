#!/usr/bin/env bash
# The shipped directory holds exactly what the generator makes of the public
# numbering data, apart from its data version (the day it was built); and
# it agrees with libphonenumber's own geocoder and carrier mapper.
# Usage: default_data_test.sh VNLT ROOT
set -euo pipefail
vnlt="$1"
root="$2"
if ! /usr/bin/python3 -c "import phonenumbers" 2>/dev/null; then
    echo "python3-phonenumbers is not installed: skipped"
    exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$root/tools/build_default_directory.sh" "$vnlt" "$work/Varnolt.dat"
shipped="$root/data/Varnolt.dat"
cmp -n 8 "$work/Varnolt.dat" "$shipped"
cmp <(tail -c +13 "$work/Varnolt.dat") <(tail -c +13 "$shipped")
/usr/bin/python3 "$root/tools/compare_with_libphonenumber.py" "$vnlt" "$shipped" 20000
