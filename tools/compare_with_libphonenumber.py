#!/usr/bin/python3
"""Asks `vnlt query` about random real numbers and compares its answers with
libphonenumber's own geocoder and carrier mapper (zh), its carrier and place
names mapped as the default-data generator maps them.

Usage: compare_with_libphonenumber.py VNLT DAT [COUNT]
Prints the agreement and every kind of disagreement; exits 1 when a number
that libphonenumber places or assigns a carrier to gets a different answer.
"""
import collections
import os
import random
import subprocess
import sys

import phonenumbers
from phonenumbers import carrier, geocoder

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_default_data import carrier_label, current_name  # noqa: E402  the directory's names

FIXED_CODES = ["10", "20", "21", "22", "23", "24", "25", "27", "28", "29",
               "311", "351", "371", "431", "451", "471", "531", "551", "571", "591",
               "731", "755", "769", "851", "871", "891", "898", "931", "951", "991"]


def expected_answer(parsed, mobile):
    """The area and type the directory holds for a valid Chinese number, in
    the house's labels; ("", "") where libphonenumber has no place either."""
    place = geocoder.description_for_number(parsed, "zh")
    name = carrier_label(carrier.name_for_number(parsed, "zh"))
    # The geocoder falls back on the country's name where it knows no place:
    # that is no place, and such keys are left out unless a carrier is known.
    if place == "中国":
        place = ""
    place = place and current_name(place)
    area = place or ("中国" if name else "")
    kind = (name or ("移动电话" if place else "")) if mobile else ("固定电话" if place else "")
    return area, kind


def sample(count, rng):
    numbers = []
    while len(numbers) < count:
        mobile = rng.random() < 0.8
        if mobile:
            national = "1" + str(rng.randint(30, 99)) + "%08d" % rng.randint(0, 99999999)
        else:
            code = rng.choice(FIXED_CODES)
            national = code + str(rng.randint(2, 8)) + "%07d" % rng.randint(0, 9999999)
        parsed = phonenumbers.parse("+86" + national)
        if phonenumbers.is_valid_number(parsed):
            numbers.append((national, parsed, mobile))
    return numbers


def main():
    vnlt, dat = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    rng = random.Random(86)
    numbers = sample(count, rng)
    dialled = [n if mobile else "0" + n for n, _, mobile in numbers]
    result = subprocess.run([vnlt, "--dat", dat, "query"], input="\n".join(dialled) + "\n",
                            capture_output=True, text=True, encoding="utf-8")
    answers = [line.split("\t") for line in result.stdout.splitlines()]
    assert len(answers) == len(numbers), (len(answers), len(numbers))
    kinds = collections.Counter()
    examples = {}
    agreed = 0
    for (national, parsed, mobile), (number, area, kind) in zip(numbers, answers):
        expected_area, expected_type = expected_answer(parsed, mobile)
        if area == expected_area and kind == expected_type:
            agreed += 1
            continue
        label = ("mobile" if mobile else "fixed") + ": " + ("area" if area != expected_area else "type")
        kinds[label] += 1
        examples.setdefault(label, (number, area, kind, expected_area, expected_type))
    print("python3-phonenumbers %s: %d of %d numbers agree (%.2f%%)"
          % (phonenumbers.__version__, agreed, len(numbers), 100.0 * agreed / len(numbers)))
    for label, n in kinds.most_common():
        print("  %s: %d, e.g. %s -> vnlt %s/%s, libphonenumber %s/%s" % ((label, n) + examples[label]))
    sys.exit(0 if not kinds else 1)


if __name__ == "__main__":
    main()
