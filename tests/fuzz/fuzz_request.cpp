// vnlt serve's reading of a request: the head's framing, the query string, the
// media type and both batch bodies. The first byte picks the reader. A batch
// found good is read again by the cursor, which must give the numbers the
// JSON library gives, within the limits.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "serve/serve_request.h"

namespace {

void ReadBatch(BatchFormat format, std::string_view body) {
    const BatchCheck check = CheckBatch(format, body);
    if (check.count > kMaxBatchNumbers) __builtin_trap();
    if (check.error != BatchError::kNone) return;
    nlohmann::json whole;
    if (format == BatchFormat::kJson) whole = nlohmann::json::parse(body.begin(), body.end());
    BatchCursor cursor(format, body);
    std::string_view number;
    size_t count = 0;
    while (cursor.Next(&number)) {
        if (number.size() > kMaxNumberBytes) __builtin_trap();
        if (format == BatchFormat::kJson && whole.at(count).get_ref<const std::string&>() != number) __builtin_trap();
        ++count;
    }
    if (count != check.count) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
        case 0: {
            std::string value;
            if (FindQueryParameter(text, "number", &value) && value.size() > text.size()) __builtin_trap();
            break;
        }
        case 1:
            ReadBatch(BatchFormat::kJson, text);
            break;
        case 2:
            ReadBatch(BatchFormat::kLines, text);
            break;
        case 3: {
            size_t start = 0;
            const size_t end = FindHeadEnd(text, &start);
            if (end != std::string_view::npos && (start >= end || end > text.size())) __builtin_trap();
            if (end != std::string_view::npos) CheckHead(text.substr(start, end - start));
            break;
        }
        case 4:
            if (MediaTypeIs(text, "text/plain") && text.size() < 10) __builtin_trap();
            break;
    }
    return 0;
}
