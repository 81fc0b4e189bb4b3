// Province, city and area code of the directory's home areas.
#include "answer/areas.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "directory/directory.h"
#include "keys/derive.h"

namespace {

const char* const kMunicipalities[] = {"北京市", "上海市", "天津市", "重庆市"};
// Longer forms first, so that "内蒙古自治区" is not taken for "内蒙古".
const char* const kRegions[] = {"内蒙古自治区",   "广西壮族自治区",
                                "宁夏回族自治区", "新疆维吾尔自治区",
                                "西藏自治区",     "内蒙古",
                                "广西",           "宁夏",
                                "新疆",           "西藏"};
const char kProvinceSuffix[] = "省";
const char kCityJoiner[] = "、";

std::string CityKey(const std::string& province, const std::string& city) { return province + '\x1f' + city; }

}  // namespace

AreaParts SplitAreaName(const std::string& area) {
    for (const char* municipality : kMunicipalities)
        if (area == municipality) return {area, area};
    for (const char* region : kRegions) {
        const std::string prefix = region;
        if (area.size() > prefix.size() && area.compare(0, prefix.size(), prefix) == 0)
            return {prefix, area.substr(prefix.size())};
    }
    const size_t suffix = area.find(kProvinceSuffix);
    const size_t cityStart = suffix + sizeof kProvinceSuffix - 1;
    if (suffix != std::string::npos && suffix > 0 && cityStart < area.size())
        return {area.substr(0, cityStart), area.substr(cityStart)};
    return {};
}

std::string AreaCodeOfKey(uint32_t key) {
    if (!IsFixedLineKey(key)) return {};
    char code[16];  // room for any unsigned, so the format can never cut it
    if (key < kLongCodeKeys)
        std::snprintf(code, sizeof code, "0%u", unsigned(key));
    else  // the first subscriber digit is not part of the code
        std::snprintf(code, sizeof code, "08%02u", unsigned((key - kLongCodeKeys) / 10));
    return code;
}

AreaCodes CollectAreaCodes(const Directory& tables) {
    const StringTable areaTable = AreaTableOf(tables);
    std::vector<std::pair<uint32_t, const RangeItem*>> fixed;
    for (uint32_t i = 0; i < tables.header.itemCount; ++i) {
        const RangeItem* item = &tables.items[i];
        const ItemFields fields = DecodeItem(item);
        for (uint32_t key = fields.start; key <= fields.start + fields.span && key < kFixedLineKeyEnd; ++key)
            if (IsFixedLineKey(key)) fixed.emplace_back(key, item);
    }
    std::sort(fixed.begin(), fixed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    AreaCodes codes;
    for (const auto& [key, item] : fixed) {
        const std::string area = Utf16ToUtf8(StringAt(areaTable, DecodeItem(item).areaIndex));
        const std::string code = AreaCodeOfKey(key);
        codes.byArea.emplace(area, code);
        const AreaParts parts = SplitAreaName(area);
        if (parts.province.empty()) continue;
        for (size_t start = 0;;) {
            const size_t end = parts.city.find(kCityJoiner, start);
            codes.byCity.emplace(CityKey(parts.province, parts.city.substr(start, end - start)), code);
            if (end == std::string::npos) break;
            start = end + sizeof kCityJoiner - 1;
        }
    }
    return codes;
}

std::string AreaCodeOf(const AreaCodes& codes, const std::string& area, const AreaParts& parts) {
    if (auto exact = codes.byArea.find(area); exact != codes.byArea.end()) return exact->second;
    if (parts.province.empty()) return {};
    auto city = codes.byCity.find(CityKey(parts.province, parts.city));
    return city == codes.byCity.end() ? std::string() : city->second;
}
