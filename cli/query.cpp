// vnlt query: numbers answered in lists, as TSV, CSV or JSON lines.
#include "cli/query.h"

#include <cstdio>
#include <string_view>

#include "cli/areas.h"
#include "cli/delimited.h"
#include "cli/text_input.h"
#include "directory/directory.h"
#include "exchange/utf8.h"
#include "keys/number_key.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kAnswerColumns[] = "key,found,area,type,province,city,areaCode";
const char kUtf8Mark[] = "\xEF\xBB\xBF";

// Output in large blocks: a batch query writes millions of lines.
struct Output {
    std::string buffer;
    Output() { buffer.reserve(1 << 21); }
    ~Output() { Flush(); }
    void Flush() {
        std::fwrite(buffer.data(), 1, buffer.size(), stdout);
        buffer.clear();
    }
    void EndLine(const char* lineEnd) {
        buffer += lineEnd;
        if (buffer.size() >= (1 << 20)) Flush();
    }
};

// What an answer says of its area, worked out once per area.
struct AreaFacts {
    bool ready = false;
    std::string name, province, city, areaCode;
};

struct Answer {
    uint32_t key = 0;
    const AreaFacts* area = nullptr;  // null when nothing covers the key
    const std::string* type = nullptr;
    std::string areaCode;
};

class Answerer {
public:
    Answerer() : codes(CollectAreaCodes()) {}

    Answer Ask(std::string_view number) {
        Answer answer;
        answer.key = KeyOf(number);
        const RangeItem* item = LookupNumber(answer.key);
        if (!item) return answer;
        const ItemFields fields = DecodeItem(item);
        answer.area = &Area(fields.areaIndex, item);
        answer.type = &Type(fields.typeIndex, item);
        // A fixed line's own code is the one it was dialled with.
        answer.areaCode = AreaCodeOfKey(answer.key);
        if (answer.areaCode.empty()) answer.areaCode = answer.area->areaCode;
        return answer;
    }

private:
    // The number's text as UTF-16, normalised and derived as the query page does.
    static uint32_t KeyOf(std::string_view number) {
        char16_t units[260];
        size_t n = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(number.data());
        const auto* end = p + number.size();
        while (p < end && n + 2 < 260) {
            if (*p < 0x80) {
                units[n++] = *p++;
                continue;
            }
            // Rare: decode one sequence through the shared converter.
            const auto* next = p + 1;
            while (next < end && (*next & 0xC0) == 0x80 && next - p < 4) ++next;
            const std::u16string decoded = Utf8ToUtf16(reinterpret_cast<const char*>(p), size_t(next - p));
            for (char16_t c : decoded)
                if (n + 1 < 260) units[n++] = c;
            p = next;
        }
        units[n] = 0;
        NormaliseWrittenNumber(units);
        return static_cast<uint32_t>(DeriveNumberKey(units));
    }

    const AreaFacts& Area(uint32_t index, const RangeItem* item) {
        if (areas.size() <= index) areas.resize(index + 1);
        AreaFacts& facts = areas[index];
        if (!facts.ready) {
            facts.ready = true;
            facts.name = Utf16ToUtf8(AreaName(item));
            const AreaParts parts = SplitAreaName(facts.name);
            facts.province = parts.province;
            facts.city = parts.city;
            facts.areaCode = AreaCodeOf(codes, facts.name, parts);
        }
        return facts;
    }

    const std::string& Type(uint32_t index, const RangeItem* item) {
        if (types.size() <= index) types.resize(index + 1);
        if (types[index].empty()) types[index] = Utf16ToUtf8(TypeName(item));
        return types[index];
    }

    AreaCodes codes;
    std::vector<AreaFacts> areas;
    std::vector<std::string> types;
};

const std::string kEmpty;

void AppendKey(std::string& out, uint32_t key) {
    char digits[12];
    const int length = std::snprintf(digits, sizeof digits, "%u", key);
    out.append(digits, static_cast<size_t>(length));
}

// key,found,area,type,province,city,areaCode after a separator.
void AppendAnswerFields(std::string& out, const Answer& a, char separator) {
    out += separator;
    AppendKey(out, a.key);
    out += separator;
    out += a.area ? "true" : "false";
    for (const std::string* field : {a.area ? &a.area->name : &kEmpty, a.type ? a.type : &kEmpty,
                                     a.area ? &a.area->province : &kEmpty, a.area ? &a.area->city : &kEmpty,
                                     &a.areaCode}) {
        out += separator;
        AppendField(out, *field, separator);
    }
}

void AppendJsonAnswer(std::string& out, std::string_view number, const Answer& a) {
    out += "\"number\":\"";
    AppendJsonString(out, number);
    out += "\",\"key\":";
    AppendKey(out, a.key);
    out += a.area ? ",\"found\":true" : ",\"found\":false";
    const char* const names[] = {"area", "type", "province", "city", "areaCode"};
    const std::string* values[] = {a.area ? &a.area->name : &kEmpty, a.type ? a.type : &kEmpty,
                                   a.area ? &a.area->province : &kEmpty, a.area ? &a.area->city : &kEmpty,
                                   &a.areaCode};
    for (int i = 0; i < 5; ++i) {
        out += ",\"";
        out += names[i];
        out += "\":\"";
        AppendJsonString(out, *values[i]);
        out += '"';
    }
    out += '}';
}

// One number a line, or the command line's numbers.
class ListWriter {
public:
    explicit ListWriter(ListFormat listFormat) : format(listFormat) {
        if (format == ListFormat::kCsv) {
            output.buffer += kUtf8Mark;
            output.buffer += "number,";
            output.buffer += kAnswerColumns;
            output.EndLine("\r\n");
        }
    }

    bool Write(std::string_view number) {
        const Answer a = answerer.Ask(number);
        std::string& out = output.buffer;
        switch (format) {
            case ListFormat::kTsv:  // number, area, type: as vnlt has always written
                out += number;
                out += '\t';
                if (a.area) out += a.area->name;
                out += '\t';
                if (a.type) out += *a.type;
                output.EndLine("\n");
                break;
            case ListFormat::kCsv:
                AppendField(out, number, ',');
                AppendAnswerFields(out, a, ',');
                output.EndLine("\r\n");
                break;
            case ListFormat::kJsonl:
                out += '{';
                AppendJsonAnswer(out, number, a);
                output.EndLine("\n");
                break;
        }
        return a.area != nullptr;
    }

    // Answers each complete line of `text`, the last one too when `final`;
    // the count of bytes used.
    size_t WriteLines(std::string_view text, bool final, bool* all) {
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
            size_t stop = end;
            if (stop > start && text[stop - 1] == '\r') --stop;
            *all &= Write(text.substr(start, stop - start));
        }
        if (final && start < text.size()) {
            *all &= Write(text.substr(start));
            start = text.size();
        }
        return start;
    }

private:
    ListFormat format;
    Answerer answerer;
    Output output;
};

bool HasDigit(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') return true;
        // Fullwidth digits, U+FF10 to U+FF19: EF BC 90 to EF BC 99.
        if (i + 2 < text.size() && text[i] == '\xEF' && text[i + 1] == '\xBC' &&
            static_cast<unsigned char>(text[i + 2]) >= 0x90 && static_cast<unsigned char>(text[i + 2]) <= 0x99)
            return true;
    }
    return false;
}

char SeparatorOfFirstLine(std::string_view text) {
    const std::string_view line = text.substr(0, text.find('\n'));
    size_t tabs = 0, commas = 0;
    for (char c : line) {
        tabs += c == '\t';
        commas += c == ',';
    }
    return tabs > commas ? '\t' : ',';
}

// CSV or TSV rows written back whole with the answer's columns appended.
int WriteRows(std::string_view text, const QueryRequest& request) {
    const char inputSeparator = SeparatorOfFirstLine(text);
    const ListFormat format =
        request.formatGiven ? request.format : inputSeparator == '\t' ? ListFormat::kTsv : ListFormat::kCsv;
    const char separator = format == ListFormat::kTsv ? '\t' : ',';
    const char* lineEnd = format == ListFormat::kCsv ? "\r\n" : "\n";
    const size_t column = static_cast<size_t>(request.column - 1);

    Answerer answerer;
    Output out;
    if (format == ListFormat::kCsv) out.buffer += kUtf8Mark;
    std::vector<std::string> fields;
    size_t at = 0, width = 0;
    bool all = true, first = true;
    while (ReadRow(text, &at, inputSeparator, &fields)) {
        std::string& o = out.buffer;
        if (fields.size() == 1 && fields[0].empty()) {
            // A blank line is no row; it is kept where it was.
            if (format != ListFormat::kJsonl) out.EndLine(lineEnd);
            continue;
        }
        // Short rows are padded, so the answer's columns line up.
        if (first) width = std::max(fields.size(), column + 1);
        if (fields.size() < width) fields.resize(width);
        const bool header = first && !HasDigit(fields[column]);
        first = false;
        if (format == ListFormat::kJsonl) {
            if (header) continue;
            o += "{\"row\":[";
            for (size_t i = 0; i < fields.size(); ++i) {
                o += i ? ",\"" : "\"";
                AppendJsonString(o, fields[i]);
                o += '"';
            }
            o += "],";
            const Answer a = answerer.Ask(fields[column]);
            AppendJsonAnswer(o, fields[column], a);
            all &= a.area != nullptr;
            out.EndLine(lineEnd);
            continue;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) o += separator;
            AppendField(o, fields[i], separator);
        }
        if (header) {
            o += separator;
            for (const char* c = kAnswerColumns; *c; ++c) o += *c == ',' ? separator : *c;
        } else {
            const Answer a = answerer.Ask(fields[column]);
            AppendAnswerFields(o, a, separator);
            all &= a.area != nullptr;
        }
        out.EndLine(lineEnd);
    }
    return all ? 0 : 1;
}

void UseBinaryOutput() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // CR LF written as such, not doubled
#endif
}

}  // namespace

int AnswerQuery(const QueryRequest& request, std::string* error) {
    if (request.format == ListFormat::kCsv || request.column != 0) UseBinaryOutput();
    bool all = true;
    if (!request.numbers.empty()) {
        ListWriter writer(request.format);
        for (const std::string& number : request.numbers) all &= writer.Write(number);
        return all ? 0 : 1;
    }
    if (request.column != 0 || !request.inputFile.empty()) {
        std::string bytes;
        if (!ReadAllBytes(request.inputFile, &bytes)) {
            *error = "cannot read " + (request.inputFile.empty() ? std::string("standard input") : request.inputFile);
            return 2;
        }
        const std::string text = DecodeToUtf8(bytes);
        if (request.column != 0) return WriteRows(text, request);
        ListWriter writer(request.format);
        writer.WriteLines(text, true, &all);
        return all ? 0 : 1;
    }
    // Standard input, streamed: a list of any length in little memory.
    ListWriter writer(request.format);
    std::string pending;
    std::vector<char> block(1 << 20);
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), stdin)) > 0) {
        pending.append(block.data(), got);
        pending.erase(0, writer.WriteLines(pending, false, &all));
    }
    writer.WriteLines(pending, true, &all);
    return all ? 0 : 1;
}
