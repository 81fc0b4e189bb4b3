// The tables under tests/data that the C++ harnesses read, written_numbers.tsv among them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8.h"

// Rows of TAB-separated UTF-8 lines; "#" lines are comments. In a field,
// \uXXXX stands for a unit that would not show (a space at the end, U+200B).
inline std::vector<std::vector<std::u16string>> ParseTable(const std::string& table) {
    std::vector<std::vector<std::u16string>> rows;
    for (size_t at = 0, end; at < table.size(); at = end + 1) {
        end = std::min(table.find('\n', at), table.size());
        if (end == at || table[at] == '#') continue;
        rows.emplace_back(1);
        for (size_t i = at; i < end;) {
            const size_t stop = std::min({table.find('\t', i), table.find("\\u", i), end});
            rows.back().back() += Utf8ToUtf16(table.substr(i, stop - i));
            if (stop == end) break;
            if (table[stop] == '\t') {
                rows.back().emplace_back();
                i = stop + 1;
            } else {
                rows.back().back() +=
                    static_cast<char16_t>(std::strtoul(table.substr(stop + 2, 4).c_str(), nullptr, 16));
                i = stop + 6;
            }
        }
    }
    return rows;
}
