// CSV and TSV rows and JSON strings, written by hand: they are the inner loop
// of a batch query, a few lines each, and the quoting rules are fixed.
#include "answer/delimited.h"

#include <cstdint>
#include <cstring>

#include "base/utf8.h"

bool ReadRow(std::string_view text, size_t* at, char separator, std::vector<std::string>* fields) {
    size_t i = *at, count = 0;
    if (i >= text.size()) return false;
    for (;;) {
        // The row's strings keep their storage from row to row.
        if (fields->size() <= count) fields->emplace_back();
        std::string& field = (*fields)[count++];
        field.clear();
        if (i < text.size() && text[i] == '"') {
            // Quoted: up to the quote not doubled; anything after it until the
            // separator is kept as written.
            for (++i; i < text.size(); ++i) {
                if (text[i] != '"') {
                    field += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
        }
        const size_t start = i;
        const char* data = text.data();
        const size_t size = text.size();
        while (i < size && data[i] != separator && data[i] != '\n' && data[i] != '\r') ++i;
        field.append(text, start, i - start);
        if (i < text.size() && text[i] == separator) {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '\r') {
            ++i;
            if (i < text.size() && text[i] == '\n') ++i;
        } else if (i < text.size() && text[i] == '\n') {
            ++i;
        }
        break;
    }
    fields->resize(count);
    *at = i;
    return true;
}

void AppendField(std::string& out, std::string_view field, char separator) {
    bool plain = true;
    for (char c : field) plain &= c != separator && c != '"' && c != '\r' && c != '\n';
    if (plain) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendJsonString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Runs of plain ASCII, nearly everything, go in one append.
        const auto* run = p;
        while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        const unsigned char c = *p;
        if (c >= 0x80) {
            // A malformed byte is replaced alone; the next one may start a character.
            const Utf8Char read = ReadUtf8Char(p, end);
            if (!read.wellFormed) {
                out += "\xEF\xBF\xBD";
                ++p;
            } else {
                out.append(reinterpret_cast<const char*>(p), read.length);
                p += read.length;
            }
            continue;
        }
        // The run above stops only at these and at control characters.
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        ++p;
    }
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Eight ASCII bytes at a time, the common case.
        while (end - p >= 8) {
            uint64_t eight;
            std::memcpy(&eight, p, 8);
            if (eight & 0x8080808080808080u) break;
            p += 8;
        }
        if (p < end && *p < 0x80) {
            ++p;
            continue;
        }
        if (p == end) break;
        const Utf8Char read = ReadUtf8Char(p, end);
        if (!read.wellFormed) return false;
        p += read.length;
    }
    return true;
}
