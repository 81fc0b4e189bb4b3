"""Every home area of a directory, from its export and asked back through
`vnlt query --format jsonl`:
- it splits into province and city, or is one of the few names listed here
  that do not, and the area code given for it is one that libphonenumber's
  geocoder places in that city;
- each place it names (each of a name with several, "贵州省贵阳市、遵义市、
  安顺市") is a prefecture-level or county-level division of its province
  today, in the national division codes (tests/data/divisions/, GB/T 2260 as
  published by the National Bureau of Statistics), and a municipality is
  named in full. The check is first shown to fail on old names planted among
  current ones. Run by pytest.
"""
import csv
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))
sys.path.insert(0, os.path.dirname(HERE))
from tables import SHIPPED, VNLT  # noqa: E402
DIVISIONS = os.path.join(os.path.dirname(HERE), "data", "divisions")

# The name of numbers the public data places in no province.
NO_PLACE = "中国"
MUNICIPALITIES = {"北京市", "上海市", "天津市", "重庆市"}


def one_number_per_area():
    """A dialled number for every area of the directory, from its export."""
    with tempfile.TemporaryDirectory() as work:
        path = work + "/export.txt"
        subprocess.run([VNLT, "--dat", SHIPPED, "export", path], check=True)
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


def split_problems(area, answer):
    """Why the answer's province and city are not those of `area`, if so."""
    province, city = answer["province"], answer["city"]
    if answer["area"] != area:
        return "%s answered as %s" % (area, answer["area"])
    if not province:
        return None if area == NO_PLACE and not city else "%s does not split" % area
    if area == NO_PLACE:
        return "%s is listed as one that does not split, but splits" % area
    if (area in MUNICIPALITIES and (province, city) != (area, area)) or (
            area not in MUNICIPALITIES and (province + city != area or not area.startswith(province))):
        return "%s splits as %s + %s" % (area, province, city)
    return check_area_code(area, province, city, answer["areaCode"]) if answer["areaCode"] else None


def check_area_code(area, province, city, code):
    """The geocoder's place for a fixed line of `code` must name the city."""
    import phonenumbers
    from phonenumbers import geocoder
    from make_default_data import current_name  # the directory's names for the geocoder's places
    national = code[1:] + ("23456789" if len(code) == 3 else "2345678")
    place = current_name(geocoder.description_for_valid_number(phonenumbers.parse("+86" + national), "zh"))
    if place == area or (place.startswith(province) and city in place[len(province):].split("、")):
        return None
    return "%s: area code %s is %s to libphonenumber" % (area, code, place or "nowhere")


def divisions():
    """Each province's full name, and the names of the places in it."""
    def read(name):
        with open(os.path.join(DIVISIONS, name), encoding="utf-8") as f:
            return list(csv.DictReader(f))
    provinces = {row["code"]: row["name"] for row in read("provinces.csv")}
    places = {code: set() for code in provinces}
    for row in read("cities.csv") + read("areas.csv"):
        places[row["provinceCode"]].add(row["name"])
    return [(name, places[code]) for code, name in provinces.items()]


def division_problems(areas, known):
    """The names among `areas` that name no current division, each with why."""
    found = []
    for area in areas:
        if area == NO_PLACE:
            continue
        # The data writes autonomous regions short: 新疆, 内蒙古.
        matches = [(len(form), province, places) for province, places in known
                   for form in {province, province[:2], province[:3]} if area.startswith(form)]
        if not matches:
            found.append("%s: no province" % area)
            continue
        length, province, places = max(matches)
        rest = area[length:]
        if not rest and area != province:
            found.append("%s: not the name of %s" % (area, province))
        for place in rest.split("、") if rest else []:
            if place not in places:
                found.append("%s: %s is no current division of %s" % (area, place, province))
    return found


def test_every_area_splits_with_its_area_code_and_names_current_divisions():
    numbers = one_number_per_area()
    out = subprocess.run([VNLT, "--dat", SHIPPED, "query", "--format", "jsonl"], check=True, capture_output=True,
                         input="\n".join(numbers.values()) + "\n", text=True, encoding="utf-8").stdout
    answers = [json.loads(line) for line in out.splitlines()]
    assert len(numbers) > 300 and len(answers) == len(numbers)
    assert [p for p in (split_problems(area, a) for area, a in zip(numbers, answers)) if p] == []
    assert division_problems(sorted(numbers), divisions()) == []


def test_old_division_names_are_told_from_current_ones():
    planted = ["湖北省襄樊市", "贵州省毕节地区", "天津", "湖南省长沙市、湘潭市、株州市", "西藏那曲地区、双湖"]
    current = ["江苏省常州市", "北京市", "新疆和田地区", "内蒙古包头市", "贵州省贵阳市、遵义市、安顺市", "安徽省合肥市、巢湖市"]
    # The Nagqu name holds two old places.
    assert len(division_problems(planted + current, divisions())) == len(planted) + 1
