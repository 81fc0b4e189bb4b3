// One number's answer over one loaded directory, and its JSON object.
#include "answer/answer.h"

#include <cstring>
#include <new>
#include <utility>

#include "answer/areas.h"
#include "answer/delimited.h"
#include "answer/fields.h"
#include "base/utf8.h"
#include "directory/lookup_memory.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/written.h"
#include "platform/platform.h"

namespace {

FieldText MakeFieldText(std::string plain) {
    FieldText text;
    AppendJsonString(text.json, plain);
    text.plain = std::move(plain);
    return text;
}

}  // namespace

Answerer::Answerer(const Directory& tables)
    : itemCount(tables.header.itemCount), items(tables.items), index(kLookupIndexEntries) {
    indexed = BuildLookupIndex(items, itemCount, index.data());
    const StringTable areaTable = AreaTableOf(tables), typeTable = TypeTableOf(tables);
    const AreaCodes codes = CollectAreaCodes(tables);
    // Every index of the 10-bit and 8-bit fields has its place.
    areas.resize(kMaxAreas);
    for (uint32_t i = 0; i < areaTable.count && i < kMaxAreas; ++i) {
        const std::string name = Utf16ToUtf8(StringAt(areaTable, i));
        const AreaParts parts = SplitAreaName(name);
        areas[i].areaCode = MakeFieldText(AreaCodeOf(codes, name, parts));
        areas[i].province = MakeFieldText(parts.province);
        areas[i].city = MakeFieldText(parts.city);
        areas[i].name = MakeFieldText(name);
    }
    types.resize(kMaxTypes);
    for (uint32_t i = 0; i < typeTable.count && i < kMaxTypes; ++i)
        types[i] = MakeFieldText(Utf16ToUtf8(StringAt(typeTable, i)));
    fixedCodes.resize(kFixedLineKeyEnd);
    for (uint32_t key = 0; key < kFixedLineKeyEnd; ++key) fixedCodes[key] = MakeFieldText(AreaCodeOfKey(key));
}

Answer Answerer::Ask(std::string_view number) const {
    Answer answer{.area = &none, .type = &none, .province = &none, .city = &none, .areaCode = &none};
    const WrittenNumber written = ReadWrittenNumber(number.data(), number.size());
    answer.key = written.key;
    answer.status = written.kind == kForeignNumber   ? AnswerStatus::kForeign
                    : written.kind == kChineseNumber ? AnswerStatus::kUnknown
                                                     : AnswerStatus::kInvalid;
    const RangeItem* item = LookupNumberIn(items, itemCount, indexed ? index.data() : nullptr, answer.key);
    if (!item) return answer;
    const ItemFields fields = DecodeItem(item);
    const AreaFacts& facts = areas[fields.areaIndex];
    answer.status = AnswerStatus::kFound;
    answer.item = item;
    answer.area = &facts.name;
    answer.type = &types[fields.typeIndex];
    answer.province = &facts.province;
    answer.city = &facts.city;
    // A fixed line's own code is the one it was dialled with.
    const bool ownCode = IsFixedLineKey(answer.key);
    answer.areaCode = ownCode ? &fixedCodes[answer.key] : &facts.areaCode;
    return answer;
}

const char* StatusText(AnswerStatus status) {
    static const char* const kTexts[kAnswerStatuses] = {"found", "unknown", "foreign", "invalid"};
    return kTexts[static_cast<size_t>(status)];
}

const char* DirectoryResultText(DirectoryResult result) {
    static const char* const kTexts[kDirectoryResults] = {
        "not an error",
        "no directory file",
        "the directory file cannot be read",
        "too large for a directory file (4 GiB or more)",
        "out of memory",
        "not a directory file",
        "damaged directory file: its tables begin in the wrong place",
        "damaged directory file: more areas or types than an item can name",
        "damaged directory file: cut short, its tables reach past its end",
        "damaged directory file: the area names are out of place or unterminated",
        "damaged directory file: the type names are out of place or unterminated",
        "damaged directory file: an item names an area or type that is not there",
    };
    return result >= 0 && result < kDirectoryResults ? kTexts[result] : "unknown error";
}

std::string OpenFailureText(DirectoryResult result, int systemError) {
    std::string text = DirectoryResultText(result);
    if (systemError != 0) text += ": " + SystemErrorText(systemError);
    return text;
}

namespace {

// Makes the answers of a directory just opened, or gives it back.
DirectoryResult Answering(DirectoryResult result, Directory& opened, std::unique_ptr<AnsweringDirectory>* answering) {
    answering->reset();
    if (result != kDirectoryOk) return result;
    try {
        answering->reset(new AnsweringDirectory(opened));
    } catch (const std::bad_alloc&) {
        CloseDirectory(&opened);
        return kDirectoryOutOfMemory;
    }
    return kDirectoryOk;
}

}  // namespace

DirectoryResult OpenAnswering(const char16_t* path, std::unique_ptr<AnsweringDirectory>* opened, int* systemError) {
    Directory tables;
    return Answering(OpenDirectory(path, &tables, systemError), tables, opened);
}

DirectoryResult OpenAnsweringBytes(const void* bytes, size_t length, std::unique_ptr<AnsweringDirectory>* opened) {
    Directory tables;
    return Answering(OpenDirectoryBytes(bytes, length, &tables), tables, opened);
}

void AppendKey(std::string& out, uint32_t key) {
    char digits[kKeyDigits];
    out.append(digits, FormatDecimalKey(key, digits));
}

void AppendAnswerFields(std::string& out, const Answer& a, char separator) {
    out += separator;
    AppendKey(out, a.key);
    AppendAnswerFieldsAfterKey(out, a, separator);
}

void AppendAnswerFieldsAfterKey(std::string& out, const Answer& a, char separator) {
    out += separator;
    out += a.Found() ? "true" : "false";
#define VARNOLT_CSV_TEXT(cName, jsonKey, member) \
    out += separator;                            \
    AppendField(out, a.member->plain, separator);
    VARNOLT_ANSWER_TEXTS(VARNOLT_CSV_TEXT)
#undef VARNOLT_CSV_TEXT
    out += separator;
    out += StatusText(a.status);
}

void AppendJsonAnswer(std::string& out, std::string_view number, const Answer& a) {
    out += "\"number\":\"";
    AppendJsonString(out, number);
    out += "\",\"key\":";
    AppendKey(out, a.key);
    AppendJsonAnswerAfterKey(out, a);
}

void AppendJsonAnswerAfterKey(std::string& out, const Answer& a) {
    out += a.Found() ? ",\"found\":true,\"status\":\"" : ",\"found\":false,\"status\":\"";
    out += StatusText(a.status);
    out += '"';
#define VARNOLT_JSON_TEXT(cName, jsonKey, member) \
    out += ",\"" jsonKey "\":\"";                 \
    out += a.member->json;                        \
    out += '"';
    VARNOLT_ANSWER_TEXTS(VARNOLT_JSON_TEXT)
#undef VARNOLT_JSON_TEXT
    out += '}';
}
