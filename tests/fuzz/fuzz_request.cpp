// vnlt serve's reading of a request: the query string and both batch bodies.
// The first byte picks the reader; every number read keeps to the limits.
#include <cstdint>
#include <string>
#include <string_view>

#include "serve/serve_request.h"

namespace {

void CheckBatch(const BatchNumbers& batch) {
    if (batch.numbers.size() > kMaxBatchNumbers) __builtin_trap();
    if (batch.error != BatchError::kNone && !batch.numbers.empty()) __builtin_trap();
    for (const std::string& number : batch.numbers)
        if (number.size() > kMaxNumberBytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0: {
            std::string value;
            if (FindQueryParameter(text, "number", &value) && value.size() > text.size()) __builtin_trap();
            break;
        }
        case 1:
            CheckBatch(ReadJsonBatch(text));
            break;
        case 2:
            CheckBatch(ReadLineBatch(text));
            break;
    }
    return 0;
}
