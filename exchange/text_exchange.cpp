// Text import (UTF-16LE or ANSI, tab-separated) and export (UTF-16LE).
#include "exchange/text_exchange.h"

#include <cstring>

#include "base/heap.h"
#include "base/text16.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "keys/decimal.h"
#include "platform/platform.h"

namespace {

// Reads the file's first two bytes, decides the encoding, and reads the rest
// after them (over them for the mark). The count of text bytes in `buffer`.
uint32_t ReadText(FileHandle file, uint64_t size, uint8_t* buffer, TextEncoding* encoding) {
    uint32_t got = 0;
    *encoding = TextEncoding::kAnsi;
    if (!ReadFileBytes(file, buffer, 2, &got) || got < 2) return got;
    *encoding = DecideTextEncoding(size, buffer);
    uint8_t* rest = *encoding == TextEncoding::kUtf16WithMark ? buffer : buffer + 2;
    uint32_t restGot = 0;
    if (!ReadFileBytes(file, rest, static_cast<uint32_t>(size - 2), &restGot)) restGot = 0;
    return static_cast<uint32_t>(rest - buffer) + restGot;
}

bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

char16_t* FindTab(char16_t* from) {
    while (*from != 0 && *from != u'\t') ++from;
    return *from == u'\t' ? from : nullptr;
}

// Collects output in large blocks, so a whole directory goes out in few
// writes; a line of any length is written whole.
struct OutputBlock {
    static constexpr uint32_t kUnits = 32768;
    FileHandle file;
    uint32_t used;
    bool failed;
    char16_t units[kUnits];
};

void Flush(OutputBlock& out) {
    if (!out.failed && out.used != 0 && !WriteFileBytes(out.file, out.units, 2 * out.used)) out.failed = true;
    out.used = 0;
}

void Put(OutputBlock& out, const char16_t* text, uint32_t length) {
    while (length != 0) {
        if (out.used == OutputBlock::kUnits) Flush(out);
        uint32_t room = OutputBlock::kUnits - out.used;
        uint32_t take = length < room ? length : room;
        std::memcpy(out.units + out.used, text, 2 * size_t{take});
        out.used += take;
        text += take;
        length -= take;
    }
}

}  // namespace

TextEncoding DecideTextEncoding(uint64_t size, const uint8_t* first) {
    if (size % 2 != 0) return TextEncoding::kAnsi;
    if (first[0] == 0xFF && first[1] == 0xFE) return TextEncoding::kUtf16WithMark;
    return first[1] == 0 ? TextEncoding::kUtf16 : TextEncoding::kAnsi;
}

char16_t* ReadTextFile(const char16_t* path) {
    FileHandle file = OpenFileForRead(path);
    if (file == kNoFile) return nullptr;
    uint64_t size = 0;
    if (!GetFileLength(file, &size)) size = 0;
    // Below 2 bytes there is nothing to decide on; from 4 GiB on the size no
    // longer fits the buffer's length.
    if (size < 2 || size > UINT32_MAX - 16) {
        CloseFileHandle(file);
        return nullptr;
    }
    uint8_t* bytes = static_cast<uint8_t*>(AllocateBlock(static_cast<size_t>(size) + 16));
    if (!bytes) {
        CloseFileHandle(file);
        return nullptr;
    }
    TextEncoding encoding;
    const uint32_t length = ReadText(file, size, bytes, &encoding);
    CloseFileHandle(file);
    // Three zero bytes end the text as bytes and as UTF-16 units, even after
    // a short read of an odd count.
    bytes[length] = bytes[length + 1] = bytes[length + 2] = 0;
    if (encoding != TextEncoding::kAnsi) return reinterpret_cast<char16_t*>(bytes);

    // Each byte gives at most one unit.
    char16_t* text = static_cast<char16_t*>(AllocateBlock(2 * (size_t{length} + 16)));
    if (text && AnsiToUtf16(reinterpret_cast<const char*>(bytes), text, length + 16) == 0) text[0] = 0;
    ReleaseBlock(bytes);
    return text;
}

int ImportText(const char16_t* path) {
    char16_t* text = ReadTextFile(path);
    if (!text) return 0;
    if (!MakeDirectoryEditable()) {
        ReleaseBlock(text);
        return 0;
    }
    int result = 1;
    char16_t* lineStart = text;
    for (char16_t* at = text; *at != 0;) {
        if (!IsLineEnd(*at)) {
            ++at;
            continue;
        }
        *at = 0;
        if (char16_t* firstTab = FindTab(lineStart)) {
            *firstTab = 0;
            if (char16_t* secondTab = FindTab(firstTab + 1)) {
                *secondTab = 0;
                if (AddEntry(lineStart, firstTab + 1, secondTab + 1) == -1) {
                    result = 0;
                    break;
                }
            }
        }
        ++at;
        while (IsLineEnd(*at)) ++at;
        lineStart = at;
    }
    SortItems();
    ReleaseBlock(text);
    return result;
}

int ExportText(const char16_t* path) {
    const uint32_t itemCount = directory.header.itemCount;
    if (itemCount == 0) return 0;
    // 64 KiB, held only while the export runs.
    OutputBlock out;
    out.file = CreateFileForWrite(path);
    if (out.file == kNoFile) return 0;
    out.used = 0;
    out.failed = false;
    const char16_t mark = 0xFEFF;
    Put(out, &mark, 1);
    for (uint32_t i = 0; i < itemCount && !out.failed; ++i) {
        const RangeItem* item = &directory.items[i];
        const ItemFields fields = DecodeItem(item);
        const char16_t* area = AreaName(item);
        const char16_t* type = TypeName(item);
        const uint32_t areaLength = Text16Length(area), typeLength = Text16Length(type);
        for (uint32_t j = 0; j <= fields.span; ++j) {
            char16_t digits[kKeyDigits];
            Put(out, digits, FormatDecimalKey(fields.start + j, digits));
            Put(out, u"\t", 1);
            Put(out, area, areaLength);
            Put(out, u"\t", 1);
            Put(out, type, typeLength);
            Put(out, u"\r\n", 2);
        }
    }
    Flush(out);
    CloseFileHandle(out.file);
    if (out.failed) {
        RemoveFileAt(path);
        return 0;
    }
    return 1;
}
