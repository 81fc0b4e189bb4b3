#!/usr/bin/env bash
# Rebuilds data/Varnolt.dat from the public numbering data of
# python3-phonenumbers, through vnlt's own import and save.
# Usage: tools/build_default_directory.sh [VNLT] [OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."
vnlt="${1:-build/native/vnlt}"
output="${2:-data/Varnolt.dat}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 tools/make_default_data.py "$work/default.txt"
"$vnlt" --dat "$work/Varnolt.dat" import "$work/default.txt"
mv "$work/Varnolt.dat" "$output"
