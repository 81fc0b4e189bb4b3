#!/usr/bin/python3
"""Every home area of a directory, asked through `vnlt query --format jsonl`:
each splits into province and city or is one of the few names listed here
that do not, and the area code given for it is one that libphonenumber's
geocoder places in that city.

Usage: areas_test.py VNLT DAT
"""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tools"))

# Names with no province of their own in the public data.
NOT_SPLIT = {"中国"}
MUNICIPALITIES = {"北京市", "上海市", "天津市", "重庆市"}


def one_number_per_area(vnlt, dat):
    """A dialled number for every area of the directory, from its export."""
    with tempfile.TemporaryDirectory() as work:
        path = work + "/export.txt"
        subprocess.run([vnlt, "--dat", dat, "export", path], check=True)
        text = open(path, "rb").read().decode("utf-16")
    numbers = {}
    for line in text.lstrip("\ufeff").splitlines():
        key, area, _ = line.split("\t")
        key = int(key)
        if key >= 1300000:
            number = "%d1234" % key
        elif key >= 8000:
            number = "08%02d%d234567" % ((key - 8000) // 10, key % 10)
        else:
            number = "0%d2345678" % key
        numbers.setdefault(area, number)
    return numbers


def main():
    vnlt, dat = sys.argv[1], sys.argv[2]
    numbers = one_number_per_area(vnlt, dat)
    out = subprocess.run([vnlt, "--dat", dat, "query", "--format", "jsonl"], check=True, capture_output=True,
                         input="\n".join(numbers.values()) + "\n", text=True, encoding="utf-8").stdout
    answers = [json.loads(line) for line in out.splitlines()]
    failures = []
    unsplit, coded = [], 0
    for area, answer in zip(numbers, answers):
        if answer["area"] != area:
            failures.append("%s answered as %s" % (area, answer["area"]))
            continue
        province, city = answer["province"], answer["city"]
        if not province:
            unsplit.append(area)
            if city or area not in NOT_SPLIT:
                failures.append("%s does not split" % area)
            continue
        if area in MUNICIPALITIES:
            if province != area or city != area:
                failures.append("%s splits as %s + %s" % (area, province, city))
        elif province + city != area or province not in area[:len(province)]:
            failures.append("%s splits as %s + %s" % (area, province, city))
        if answer["areaCode"]:
            coded += 1
            problem = check_area_code(area, province, city, answer["areaCode"])
            if problem:
                failures.append(problem)
    for area in NOT_SPLIT - set(unsplit):
        if area in numbers:
            failures.append("%s is listed as one that does not split, but splits" % area)
    print("%d areas: %d split, %d do not (%s); %d have an area code, checked with libphonenumber"
          % (len(numbers), len(numbers) - len(unsplit), len(unsplit), "、".join(sorted(unsplit)), coded))
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1 if failures else 0)


def check_area_code(area, province, city, code):
    """The geocoder's place for a fixed line of `code` must name the city."""
    import phonenumbers
    from phonenumbers import geocoder
    from make_default_data import current_name  # the directory's names for the geocoder's places
    national = code[1:] + ("23456789" if len(code) == 3 else "2345678")
    place = current_name(geocoder.description_for_valid_number(phonenumbers.parse("+86" + national), "zh"))
    if place == area:
        return None
    if place.startswith(province) and city in place[len(province):].split("、"):
        return None
    if area in MUNICIPALITIES and place == area:
        return None
    return "%s: area code %s is %s to libphonenumber" % (area, code, place or "nowhere")


if __name__ == "__main__":
    main()
