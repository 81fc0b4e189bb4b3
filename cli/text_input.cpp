// The text of vnlt's input files, in whichever encoding they came.
#include "cli/text_input.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "answer/delimited.h"
#include "base/heap.h"
#include "base/utf8.h"
#include "exchange/text_exchange.h"
#include "platform/platform.h"
#include "platform/whole_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

bool ReadAllBytes(const std::string& path, std::string* bytes) {
    if (path.empty()) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);  // UTF-16 and CR LF rows arrive as they are
#endif
        bytes->clear();
        char block[1 << 16];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, stdin)) > 0) bytes->append(block, got);
        return !std::ferror(stdin);
    }
    uint32_t count = UINT32_MAX;
    uint8_t* block = ReadWholeFile(Utf8PathToUtf16(path).c_str(), &count);
    if (!block) return false;
    bytes->assign(reinterpret_cast<const char*>(block), count);
    ReleaseBlock(block);
    return true;
}

std::string DecodeToUtf8(std::string bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    const TextEncoding encoding = size >= 2 ? DecideTextEncoding(size, b) : TextEncoding::kAnsi;
    if (encoding != TextEncoding::kAnsi) {
        const size_t skip = encoding == TextEncoding::kUtf16WithMark ? 2 : 0;
        std::u16string units((size - skip) / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(b[skip + 2 * i] | (b[skip + 2 * i + 1] << 8));
        return Utf16ToUtf8(units.data(), units.size());
    }
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return bytes.erase(0, 3);
    if (IsValidUtf8(bytes)) return bytes;
    // Each byte gives at most one unit; the text ends at a NUL, as in the import.
    std::unique_ptr<char16_t[]> units(new char16_t[size + 1]);
    const uint32_t written = AnsiToUtf16(bytes.c_str(), units.get(), static_cast<uint32_t>(size + 1));
    return written == 0 ? std::string() : Utf16ToUtf8(units.get(), written - 1);
}
