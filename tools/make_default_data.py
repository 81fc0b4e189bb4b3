#!/usr/bin/python3
"""Writes the default directory's text: one "key TAB area TAB type" line per
number key, UTF-16LE with the mark FF FE, from libphonenumber's public zh
geocoding and carrier data for country code 86 (Debian's python3-phonenumbers),
with the carriers under the names their users know (CARRIER_LABELS).

Keys follow the directory's own scheme, so that a number as dialled derives
the key that holds its answer:
  mobile      the first seven digits, 1300000 to 1999999
  fixed line  10, 20 to 29, the three-digit area codes without their 0, and
              for the 08xy codes also 8000 + xy*10 + the first subscriber
              digit (what a dialled 08xy number with more digits derives)

Usage: make_default_data.py OUTPUT.txt   (prints the package version)
"""
import sys

import phonenumbers
from phonenumbers.carrierdata import CARRIER_DATA
from phonenumbers.geodata import GEOCODE_DATA

COUNTRY = "86"
COUNTRY_NAME = "中国"
FIXED_LINE = "固定电话"
# Carrier unknown but a place known: the number is still a mobile one.
MOBILE = "移动电话"
# Carriers whose zh name in the public data is not the one Chinese users know.
CARRIER_LABELS = {"CBN": "中国广电"}


def carrier_label(name):
    return CARRIER_LABELS.get(name, name)


def longest(table, digits):
    """The zh text of the longest prefix of 86+digits in `table`, or None."""
    for end in range(len(digits), 0, -1):
        entry = table.get(COUNTRY + digits[:end])
        if entry and entry.get("zh"):
            return entry["zh"]
    return None


def entries():
    for key in range(1300000, 2000000):
        digits = str(key)
        place = longest(GEOCODE_DATA, digits)
        carrier = carrier_label(longest(CARRIER_DATA, digits))
        if place or carrier:
            yield key, place or COUNTRY_NAME, carrier or MOBILE

    fixed = {}
    for code in ["10"] + [str(20 + d) for d in range(10)]:
        fixed[int(code)] = code
    for code in range(300, 1000):
        fixed[code] = str(code)
        if code // 100 == 8:
            # 08xy followed by a subscriber digit derives 8000 + xy*10 + d.
            for d in range(10):
                fixed[8000 + (code % 100) * 10 + d] = str(code) + str(d)
    for key in sorted(fixed):
        place = longest(GEOCODE_DATA, fixed[key])
        if place:
            yield key, place, FIXED_LINE


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    lines = sorted(entries())
    text = "".join("%d\t%s\t%s\r\n" % line for line in lines)
    with open(sys.argv[1], "wb") as out:
        out.write(b"\xff\xfe" + text.encode("utf-16-le"))
    print("python3-phonenumbers %s: %d keys" % (phonenumbers.__version__, len(lines)))


if __name__ == "__main__":
    main()
