// CSV and TSV rows and JSON strings, written by hand: they are the inner loop
// of a batch query, a few lines each, and the quoting rules are fixed.
#include "answer/delimited.h"

#include <cstdint>
#include <cstring>

namespace {

// The length of the well-formed UTF-8 sequence at `p`, 0 when malformed.
size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

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
            const size_t length = Utf8SequenceLength(p, end);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++p;
            } else {
                out.append(reinterpret_cast<const char*>(p), length);
                p += length;
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
        const size_t length = Utf8SequenceLength(p, end);
        if (length == 0) return false;
        p += length;
    }
    return true;
}
