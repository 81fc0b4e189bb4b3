#!/usr/bin/python3
"""Writes the default directory's text: one "key TAB area TAB type" line per
number key, UTF-16LE with the mark FF FE, from libphonenumber's public zh
geocoding and carrier data for country code 86 (Debian's python3-phonenumbers),
with the carriers under the names their users know (CARRIER_LABELS) and the
places under the names they have today (CURRENT_NAMES).

Keys follow the directory's own scheme, so that a number as dialled derives
the key that holds its answer:
  mobile      the first seven digits, 1300000 to 1999999
  fixed line  10, 20 to 29, the three-digit area codes without their 0, and
              for the 08xy codes also 8000 + xy*10 + the first subscriber
              digit (what a dialled 08xy number with more digits derives)

Usage: make_default_data.py OUTPUT.txt
Prints the package version, and the keys each renaming moved.
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


# Divisions renamed, merged or misspelt in the public data, which still names
# them as they were before: (province, place) as the data writes them ->
# (the place today, the year, its code in the national division codes
# GB/T 2260 as the National Bureau of Statistics publishes them, and the
# State Council approval the change follows). A place merged into another,
# or made one of its districts, takes that place's name.
CURRENT_NAMES = {
    ("湖北省", "襄樊市"): ("襄阳市", 2010, "420600", "国务院批复襄樊市更名为襄阳市"),
    ("贵州省", "毕节地区"): ("毕节市", 2011, "520500", "国务院批复撤销毕节地区，设立地级毕节市"),
    ("贵州省", "铜仁地区"): ("铜仁市", 2011, "520600", "国务院批复撤销铜仁地区，设立地级铜仁市"),
    ("山东省", "莱芜市"): ("济南市", 2019, "370116", "国务院批复撤销莱芜市，其辖区划归济南市（莱芜区、钢城区）"),
    ("青海省", "海东地区"): ("海东市", 2013, "630200", "国务院批复撤销海东地区，设立地级海东市"),
    ("新疆", "哈密地区"): ("哈密市", 2016, "650500", "国务院批复撤销哈密地区和县级哈密市，设立地级哈密市"),
    ("新疆", "吐鲁番地区"): ("吐鲁番市", 2015, "650400", "国务院批复撤销吐鲁番地区和县级吐鲁番市，设立地级吐鲁番市"),
    ("西藏", "日喀则地区"): ("日喀则市", 2014, "540200", "国务院批复撤销日喀则地区和县级日喀则市，设立地级日喀则市"),
    ("西藏", "昌都地区"): ("昌都市", 2014, "540300", "国务院批复撤销昌都地区和昌都县，设立地级昌都市"),
    ("西藏", "林芝地区"): ("林芝市", 2015, "540400", "国务院批复撤销林芝地区和林芝县，设立地级林芝市"),
    ("西藏", "山南地区"): ("山南市", 2016, "540500", "国务院批复撤销山南地区和乃东县，设立地级山南市"),
    ("西藏", "那曲地区"): ("那曲市", 2017, "540600", "国务院批复撤销那曲地区和那曲县，设立地级那曲市"),
    ("西藏", "双湖"): ("双湖县", 2012, "540630", "国务院批复设立双湖县"),
    ("湖南省", "株州市"): ("株洲市", None, "430200", "株洲写作“洲”：数据的笔误"),
    ("西藏", "扎达县"): ("札达县", None, "542522", "札达写作“札”：数据的笔误"),
    ("广东省", "潮阳市"): ("汕头市", 2003, "440513", "国务院批复撤销县级潮阳市，设立汕头市潮阳区"),
    ("广东省", "顺德市"): ("佛山市", 2002, "440606", "国务院批复撤销县级顺德市，设立佛山市顺德区"),
    ("", "天津"): ("天津市", None, "120000", "天津市，与其他直辖市的写法一致"),
}
# The autonomous regions as the public data writes them, before the place.
REGIONS = ("内蒙古", "广西", "西藏", "宁夏", "新疆")


def carrier_label(name):
    return CARRIER_LABELS.get(name, name)


def split_places(area):
    """("江苏省", ["常州市"]) for 江苏省常州市, ("", ["北京市"]) for 北京市:
    the province as written, and each place of a name with several."""
    for region in REGIONS:
        if area.startswith(region):
            return region, area[len(region):].split("、")
    at = area.find("省")
    if at >= 0:
        return area[:at + 1], area[at + 1:].split("、")
    return "", area.split("、")


def current_name(area, moved=None):
    """The area name with each place named as it is today; a place named
    twice is named once. Counts each renaming used in `moved`."""
    province, places = split_places(area)
    current, used = [], set()
    for place in places:
        renamed = CURRENT_NAMES.get((province, place))
        if renamed:
            used.add((province, place))
            place = renamed[0]
        if place not in current:
            current.append(place)
    if moved is not None:
        for renaming in used:
            moved[renaming] = moved.get(renaming, 0) + 1
    return province + "、".join(current)


def longest(table, digits):
    """The zh text of the longest prefix of 86+digits in `table`, or None."""
    for end in range(len(digits), 0, -1):
        entry = table.get(COUNTRY + digits[:end])
        if entry and entry.get("zh"):
            return entry["zh"]
    return None


def entries(moved=None):
    for key in range(1300000, 2000000):
        digits = str(key)
        place = longest(GEOCODE_DATA, digits)
        place = place and current_name(place, moved)
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
            yield key, current_name(place, moved), FIXED_LINE


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    moved = {}
    lines = sorted(entries(moved))
    text = "".join("%d\t%s\t%s\r\n" % line for line in lines)
    with open(sys.argv[1], "wb") as out:
        out.write(b"\xff\xfe" + text.encode("utf-16-le"))
    print("python3-phonenumbers %s: %d keys" % (phonenumbers.__version__, len(lines)))
    for (province, place), keys in sorted(moved.items(), key=lambda item: -item[1]):
        now, year, code, _ = CURRENT_NAMES[(province, place)]
        print("  %s%s -> %s (%s, %s): %d keys" % (province, place, now, year or "spelling", code, keys))


if __name__ == "__main__":
    main()
