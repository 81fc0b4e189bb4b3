// libvarnolt: the C interface over opened directories and their answers.
#define VARNOLT_BUILDING
#include "lib/varnolt.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "answer/answer.h"
#include "answer/fields.h"
#include "base/utf8.h"
#include "version.h"

struct varnolt {
    std::unique_ptr<AnsweringDirectory> opened;
};

namespace {

static_assert(sizeof(unsigned int) == 4, "the key is 32 bits on every platform");
static_assert(VARNOLT_FOUND == static_cast<int>(AnswerStatus::kFound) &&
                  VARNOLT_UNKNOWN == static_cast<int>(AnswerStatus::kUnknown) &&
                  VARNOLT_FOREIGN == static_cast<int>(AnswerStatus::kForeign) &&
                  VARNOLT_INVALID == static_cast<int>(AnswerStatus::kInvalid),
              "the C statuses are the answer's");

// The public codes are fixed forever; the directory's results may be
// renumbered or grow. Every result has its row, in the results' order.
struct PublicCode {
    int code;
    bool damaged;
};
constexpr PublicCode kPublicCodes[kDirectoryResults] = {
    {VARNOLT_OK, false},           {VARNOLT_MISSING, false},       {VARNOLT_UNREADABLE, false},
    {VARNOLT_TOO_LARGE, false},    {VARNOLT_NO_MEMORY, false},     {VARNOLT_NOT_DIRECTORY, true},
    {VARNOLT_DAMAGED_START, true}, {VARNOLT_DAMAGED_COUNTS, true}, {VARNOLT_DAMAGED_CUT, true},
    {VARNOLT_DAMAGED_AREAS, true}, {VARNOLT_DAMAGED_TYPES, true},  {VARNOLT_DAMAGED_ITEMS, true},
};
static_assert(kPublicCodes[kDirectoryOutOfMemory].code == VARNOLT_NO_MEMORY &&
                  kPublicCodes[kDirectoryBadItems].code == VARNOLT_DAMAGED_ITEMS,
              "a row per result, in order");

int PublicCodeOf(DirectoryResult result) { return kPublicCodes[result].code; }

// The row of a public code, or -1 for a code no result has.
int ResultOf(int code) {
    for (int i = 0; i < kDirectoryResults; ++i)
        if (kPublicCodes[i].code == code) return i;
    return -1;
}

// The last open's system error, per thread like errno.
thread_local int lastSystemError = 0;

// Nothing may throw past the C boundary: an allocation that fails inside an
// open is its result.
template <typename Open>
int OpenWith(varnolt** directory, bool valid, Open open) {
    lastSystemError = 0;
    if (!directory) return VARNOLT_INVALID_ARGUMENT;
    *directory = nullptr;
    if (!valid) return VARNOLT_INVALID_ARGUMENT;
    try {
        auto handle = std::make_unique<varnolt>();
        const DirectoryResult result = open(&handle->opened);
        if (result != kDirectoryOk) return PublicCodeOf(result);
        *directory = handle.release();
        return VARNOLT_OK;
    } catch (const std::bad_alloc&) {
        return VARNOLT_NO_MEMORY;
    }
}

// The answer of a program built against the first version ends with
// area_code; a later one is larger.
constexpr size_t kFirstAnswerSize = offsetof(varnolt_answer, area_code) + sizeof(const char*);

// Fills the fields that lie wholly inside the caller's `size` bytes at `out`,
// which need not be aligned as this version's answer is.
void Fill(const Answer& a, void* out, size_t size) {
    // This version's answer, or a later one: written whole, with no copy.
    if (size >= sizeof(varnolt_answer) && reinterpret_cast<uintptr_t>(out) % alignof(varnolt_answer) == 0) {
        auto* answer = static_cast<varnolt_answer*>(out);
        answer->status = static_cast<int>(a.status);
        answer->key = a.key;
#define VARNOLT_SET_TEXT(cName, jsonKey, member) answer->cName = a.member->plain.c_str();
        VARNOLT_ANSWER_TEXTS(VARNOLT_SET_TEXT)
#undef VARNOLT_SET_TEXT
        return;
    }
    varnolt_answer full;
    full.status = static_cast<int>(a.status);
    full.key = a.key;
#define VARNOLT_FILL_TEXT(cName, jsonKey, member) full.cName = a.member->plain.c_str();
    VARNOLT_ANSWER_TEXTS(VARNOLT_FILL_TEXT)
#undef VARNOLT_FILL_TEXT
    auto put = [&](size_t offset, size_t length) {
        if (offset + length <= size)
            std::memcpy(static_cast<char*>(out) + offset, reinterpret_cast<const char*>(&full) + offset, length);
    };
    put(offsetof(varnolt_answer, status), sizeof full.status);
    put(offsetof(varnolt_answer, key), sizeof full.key);
#define VARNOLT_PUT_TEXT(cName, jsonKey, member) put(offsetof(varnolt_answer, cName), sizeof full.cName);
    VARNOLT_ANSWER_TEXTS(VARNOLT_PUT_TEXT)
#undef VARNOLT_PUT_TEXT
}

}  // namespace

extern "C" {

int varnolt_open(const char* path, varnolt** directory) {
    return OpenWith(directory, path != nullptr, [&](std::unique_ptr<AnsweringDirectory>* opened) {
        return OpenAnswering(Utf8PathToUtf16(path, std::char_traits<char>::length(path)).c_str(), opened,
                             &lastSystemError);
    });
}

int varnolt_open_memory(const void* bytes, size_t size, varnolt** directory) {
    return OpenWith(directory, bytes != nullptr || size == 0, [&](std::unique_ptr<AnsweringDirectory>* opened) {
        return OpenAnsweringBytes(bytes, size, opened);
    });
}

void varnolt_close(varnolt* directory) { delete directory; }

// Ask allocates nothing and throws nothing: the lookups need no guard.
int varnolt_lookup(const varnolt* directory, const char* number, varnolt_answer* answer, size_t answer_size) {
    if (!directory || !number || !answer || answer_size < kFirstAnswerSize) return VARNOLT_INVALID_ARGUMENT;
    Fill(directory->opened->answerer.Ask(number), answer, answer_size);
    return VARNOLT_OK;
}

int varnolt_lookup_many(const varnolt* directory, const char* const* numbers, size_t count, varnolt_answer* answers,
                        size_t answer_size) {
    if (!directory || (count != 0 && (!numbers || !answers)) || answer_size < kFirstAnswerSize)
        return VARNOLT_INVALID_ARGUMENT;
    const Answerer& answerer = directory->opened->answerer;
    char* at = reinterpret_cast<char*>(answers);
    for (size_t i = 0; i < count; ++i, at += answer_size)
        Fill(answerer.Ask(numbers[i] ? numbers[i] : ""), at, answer_size);
    return VARNOLT_OK;
}

const char* varnolt_errstr(int code) {
    if (code == VARNOLT_INVALID_ARGUMENT) return "invalid argument: a null pointer or an answer size too small";
    const int result = ResultOf(code);
    return result < 0 ? "unknown error" : DirectoryResultText(static_cast<DirectoryResult>(result));
}

int varnolt_is_damaged(int code) {
    const int result = ResultOf(code);
    return result >= 0 && kPublicCodes[result].damaged ? 1 : 0;
}

int varnolt_system_error(void) { return lastSystemError; }

const char* varnolt_status_name(int status) {
    if (status < VARNOLT_FOUND || status > VARNOLT_INVALID) return "unknown status";
    return StatusText(static_cast<AnswerStatus>(status));
}

const char* varnolt_version(void) { return VARNOLT_VERSION_TEXT; }

}  // extern "C"
