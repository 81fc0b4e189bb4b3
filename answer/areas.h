// Province, city and area code (区号) of the directory's home areas.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "directory/directory.h"

struct AreaParts {
    std::string province;
    std::string city;  // several cities joined by "、" where one area code serves them
};

// Splits an area name (UTF-8) into its province and city: "江苏省常州市" gives
// 江苏省 + 常州市, "北京市" gives 北京市 twice, "内蒙古包头市" gives 内蒙古 +
// 包头市. Both are empty when the name has no province of its own ("中国").
AreaParts SplitAreaName(const std::string& area);

// Area codes as the directory's fixed-line keys give them ("0519").
struct AreaCodes {
    std::unordered_map<std::string, std::string> byArea;  // exact area name
    std::unordered_map<std::string, std::string> byCity;  // province + city
};

// Collects the area codes of a directory's tables. Where one name has several
// codes, the lowest is taken.
AreaCodes CollectAreaCodes(const Directory& tables);

// The number key a fixed line of `key` was dialled with ("0755" for 755,
// "0851" for 8512); empty for keys that are not fixed lines.
std::string AreaCodeOfKey(uint32_t key);

// The area code of an area: the code of the very name, else that of its city
// (a mobile number of 贵州省遵义市 takes 0851 from 贵州省贵阳市、遵义市、安顺市).
// Empty when the directory has none.
std::string AreaCodeOf(const AreaCodes& codes, const std::string& area, const AreaParts& parts);
