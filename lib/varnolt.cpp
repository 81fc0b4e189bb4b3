// libvarnolt: the C interface over opened directories and their answers.
#define VARNOLT_BUILDING
#include "lib/varnolt.h"

#include <memory>
#include <new>

#include "answer/answer.h"
#include "base/utf8.h"
#include "version.h"

struct varnolt {
    std::unique_ptr<AnsweringDirectory> opened;
};

namespace {

static_assert(VARNOLT_DAMAGED_ITEMS == kDirectoryBadItems && VARNOLT_INVALID_ARGUMENT == kDirectoryResults,
              "the C codes are the directory's results");
static_assert(VARNOLT_FOUND == static_cast<int>(AnswerStatus::kFound) &&
                  VARNOLT_UNKNOWN == static_cast<int>(AnswerStatus::kUnknown) &&
                  VARNOLT_FOREIGN == static_cast<int>(AnswerStatus::kForeign) &&
                  VARNOLT_INVALID == static_cast<int>(AnswerStatus::kInvalid),
              "the C statuses are the answer's");

// Nothing may throw past the C boundary: an allocation that fails inside an
// open is its result.
template <typename Open>
int OpenWith(varnolt** directory, bool valid, Open open) {
    if (!directory) return VARNOLT_INVALID_ARGUMENT;
    *directory = nullptr;
    if (!valid) return VARNOLT_INVALID_ARGUMENT;
    try {
        auto handle = std::make_unique<varnolt>();
        const DirectoryResult result = open(&handle->opened);
        if (result != kDirectoryOk) return result;
        *directory = handle.release();
        return VARNOLT_OK;
    } catch (const std::bad_alloc&) {
        return VARNOLT_NO_MEMORY;
    }
}

void Fill(const Answer& a, varnolt_answer* out) {
    out->status = static_cast<int>(a.status);
    out->key = a.key;
    out->area = a.area->plain.c_str();
    out->type = a.type->plain.c_str();
    out->province = a.province->plain.c_str();
    out->city = a.city->plain.c_str();
    out->area_code = a.areaCode->plain.c_str();
}

}  // namespace

extern "C" {

int varnolt_open(const char* path, varnolt** directory) {
    return OpenWith(directory, path != nullptr, [&](std::unique_ptr<AnsweringDirectory>* opened) {
        return OpenAnswering(Utf8ToUtf16(path, std::char_traits<char>::length(path)).c_str(), opened);
    });
}

int varnolt_open_memory(const void* bytes, size_t size, varnolt** directory) {
    return OpenWith(directory, bytes != nullptr || size == 0, [&](std::unique_ptr<AnsweringDirectory>* opened) {
        return OpenAnsweringBytes(bytes, size, opened);
    });
}

void varnolt_close(varnolt* directory) { delete directory; }

int varnolt_lookup(const varnolt* directory, const char* number, varnolt_answer* answer) {
    if (!directory || !number || !answer) return VARNOLT_INVALID_ARGUMENT;
    try {  // nothing may throw past the C boundary
        Fill(directory->opened->answerer.Ask(number), answer);
    } catch (const std::bad_alloc&) {
        return VARNOLT_NO_MEMORY;
    }
    return VARNOLT_OK;
}

int varnolt_lookup_many(const varnolt* directory, const char* const* numbers, size_t count, varnolt_answer* answers) {
    if (!directory || (count != 0 && (!numbers || !answers))) return VARNOLT_INVALID_ARGUMENT;
    const Answerer& answerer = directory->opened->answerer;
    try {
        for (size_t i = 0; i < count; ++i) Fill(answerer.Ask(numbers[i] ? numbers[i] : ""), &answers[i]);
    } catch (const std::bad_alloc&) {
        return VARNOLT_NO_MEMORY;
    }
    return VARNOLT_OK;
}

const char* varnolt_errstr(int code) {
    if (code == VARNOLT_INVALID_ARGUMENT) return "invalid argument: a null pointer";
    return DirectoryResultText(static_cast<DirectoryResult>(code));
}

const char* varnolt_status_name(int status) {
    if (status < VARNOLT_FOUND || status > VARNOLT_INVALID) return "unknown status";
    return StatusText(static_cast<AnswerStatus>(status));
}

const char* varnolt_version(void) { return VARNOLT_VERSION_TEXT; }

}  // extern "C"
