// The table of written numbers every harness reads: tests/data/written_numbers.tsv.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8.h"

// One row: the text as written, and what the shipped directory answers.
struct WrittenNumberRow {
    std::u16string text;
    std::string status;  // found, unknown, foreign or invalid
    uint32_t key;
    std::u16string area, type;
};

// Rows of TAB-separated UTF-8 lines; "#" lines are comments. In the text,
// \uXXXX stands for a unit that would not show (a space at the end, U+200B).
inline std::vector<WrittenNumberRow> ParseWrittenNumbers(const std::string& table) {
    std::vector<WrittenNumberRow> rows;
    size_t at = 0;
    while (at < table.size()) {
        size_t end = table.find('\n', at);
        if (end == std::string::npos) end = table.size();
        const std::string line = table.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        for (size_t start = 0, tab;; start = tab + 1) {
            tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
        }
        fields.resize(5);
        std::u16string text;
        const std::string& written = fields[0];
        for (size_t i = 0; i < written.size();) {
            if (written.compare(i, 2, "\\u") == 0 && i + 6 <= written.size()) {
                text += static_cast<char16_t>(std::strtoul(written.substr(i + 2, 4).c_str(), nullptr, 16));
                i += 6;
                continue;
            }
            size_t next = i + 1;
            while (next < written.size() && written.compare(next, 2, "\\u") != 0) ++next;
            text += Utf8ToUtf16(written.substr(i, next - i));
            i = next;
        }
        rows.push_back({text, fields[1], static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 10)),
                        Utf8ToUtf16(fields[3]), Utf8ToUtf16(fields[4])});
    }
    return rows;
}
