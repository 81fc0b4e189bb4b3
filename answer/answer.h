// One number's answer: its key, home area, type, province, city and area
// code, over one loaded directory, and its JSON object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"

// A field's text in each written form, made once: a batch repeats the same
// few hundred names millions of times.
struct FieldText {
    std::string plain, json;
};

// Why a number has the answer it has.
enum class AnswerStatus : uint8_t {
    kFound,    // the directory holds its key
    kUnknown,  // a Chinese number the directory does not cover
    kForeign,  // another country's number
    kInvalid,  // no number in the text
};
constexpr size_t kAnswerStatuses = 4;

// "found", "unknown", "foreign" or "invalid".
const char* StatusText(AnswerStatus status);

struct Answer {
    uint32_t key = 0;
    AnswerStatus status = AnswerStatus::kInvalid;
    const RangeItem* item = nullptr;
    const FieldText* area;
    const FieldText* type;
    const FieldText* province;
    const FieldText* city;
    const FieldText* areaCode;

    bool Found() const { return status == AnswerStatus::kFound; }
};

// Every name of one directory in every written form, and its lookup index,
// made whole on construction: afterwards nothing changes, so any number of
// threads may ask at once. The tables `tables` points into must outlive it.
class Answerer {
public:
    explicit Answerer(const Directory& tables);

    // The number as written, read and derived as the query page does.
    Answer Ask(std::string_view number) const;

private:
    struct AreaFacts {
        FieldText name, province, city, areaCode;
    };

    uint32_t itemCount;
    const RangeItem* items;
    std::vector<uint32_t> index;
    bool indexed;
    std::vector<AreaFacts> areas;       // by area index
    std::vector<FieldText> types;       // by type index
    std::vector<FieldText> fixedCodes;  // below kFixedLineKeyEnd, by key; empty where the key gives none
    FieldText none;
};

// Appends the key in decimal.
void AppendKey(std::string& out, uint32_t key);
// Appends the columns of VARNOLT_ANSWER_CSV_COLUMNS, each after a separator.
void AppendAnswerFields(std::string& out, const Answer& a, char separator);
// The same less the key: what every number of one area and type shares.
void AppendAnswerFieldsAfterKey(std::string& out, const Answer& a, char separator);
// Appends the answer's JSON object less its opening brace: "number":…}.
void AppendJsonAnswer(std::string& out, std::string_view number, const Answer& a);
// Its members after the key: ,"found":…}.
void AppendJsonAnswerAfterKey(std::string& out, const Answer& a);

// What a failed open says, in English: the words of the library, vnlt and
// the service alike.
const char* DirectoryResultText(DirectoryResult result);
// The same, followed by the system's reason when there is one: "the
// directory file cannot be read: Permission denied".
std::string OpenFailureText(DirectoryResult result, int systemError);

// A directory file opened read-only, with every name's answer made: the
// library's handle, the service's snapshot, vnlt query's directory. Nothing
// in it changes after the open, so any number of threads may ask at once.
struct AnsweringDirectory {
    explicit AnsweringDirectory(const Directory& opened) : tables(opened), answerer(tables) {}
    ~AnsweringDirectory() { CloseDirectory(&tables); }
    AnsweringDirectory(const AnsweringDirectory&) = delete;
    AnsweringDirectory& operator=(const AnsweringDirectory&) = delete;

    Directory tables;
    Answerer answerer;
};

// Opens a directory file (or a copy of bytes in memory) as OpenDirectory
// does and makes its answers; `*opened` is null unless kDirectoryOk.
DirectoryResult OpenAnswering(const char16_t* path, std::unique_ptr<AnsweringDirectory>* opened,
                              int* systemError = nullptr);
DirectoryResult OpenAnsweringBytes(const void* bytes, size_t length, std::unique_ptr<AnsweringDirectory>* opened);
