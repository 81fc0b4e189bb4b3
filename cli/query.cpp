// vnlt query: numbers answered in lists, as TSV, CSV or JSON lines.
#include "cli/query.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

#include "answer/answer.h"
#include "answer/delimited.h"
#include "answer/fields.h"
#include "base/utf8.h"
#include "cli/progress.h"
#include "cli/text_input.h"
#include "directory/directory.h"
#include "keys/derive.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kAnswerColumns[] = VARNOLT_ANSWER_CSV_COLUMNS;
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

// What follows the key in a CSV line (",true,江苏省常州市,…") and in a JSON
// object: the same for every mobile number of one area and type, and for
// every number of one fixed-line key, so made once for each.
class TailCache {
public:
    struct Tails {
        std::string csv, json;
    };

    const Tails& Of(const Answer& a) {
        if (!a.Found()) {
            Tails& tails = notFoundTails[static_cast<size_t>(a.status)];
            if (tails.csv.empty()) tails = MakeTails(a);
            return tails;
        }
        const ItemFields fields = DecodeItem(a.item);
        const uint32_t slot = a.key < kFixedLineKeyEnd ? kPairSlots + a.key : fields.areaIndex << 8 | fields.typeIndex;
        if (slots.empty()) slots.assign(kPairSlots + kFixedLineKeyEnd, -1);
        if (slots[slot] < 0) {
            slots[slot] = static_cast<int32_t>(made.size());
            made.push_back(MakeTails(a));
        }
        return made[static_cast<size_t>(slots[slot])];
    }

    // The CSV line's answer columns: the key, then the tails.
    void AppendCsv(std::string& out, const Answer& a) {
        out += ',';
        AppendKey(out, a.key);
        out += Of(a).csv;
    }

private:
    static Tails MakeTails(const Answer& a) {
        Tails tails;
        AppendAnswerFieldsAfterKey(tails.csv, a, ',');
        AppendJsonAnswerAfterKey(tails.json, a);
        return tails;
    }

    static constexpr uint32_t kPairSlots = 1 << 18;
    // Area index << 8 | type index, then kPairSlots + a fixed-line key: the
    // position in `made`.
    std::vector<int32_t> slots;
    std::vector<Tails> made;
    Tails notFoundTails[kAnswerStatuses];
};

// One number a line, or the command line's numbers.
class ListWriter {
public:
    ListWriter(ListFormat listFormat, const Answerer& directoryAnswerer)
        : format(listFormat), answerer(directoryAnswerer) {
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
                out += a.area->plain;
                out += '\t';
                out += a.type->plain;
                output.EndLine("\n");
                break;
            case ListFormat::kCsv:
                AppendField(out, number, ',');
                tails.AppendCsv(out, a);
                output.EndLine("\r\n");
                break;
            case ListFormat::kJsonl:
                out += "{\"number\":\"";
                AppendJsonString(out, number);
                out += "\",\"key\":";
                AppendKey(out, a.key);
                out += tails.Of(a).json;
                output.EndLine("\n");
                break;
        }
        return a.Found();
    }

    // Answers each complete line of `text`, the last one too when `final`;
    // the count of bytes used.
    size_t WriteLines(std::string_view text, bool final, bool* all, Progress* progress = nullptr) {
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
            size_t stop = end;
            if (stop > start && text[stop - 1] == '\r') --stop;
            *all &= Write(text.substr(start, stop - start));
            if (progress) progress->Row(end);
        }
        if (final && start < text.size()) {
            *all &= Write(text.substr(start));
            start = text.size();
        }
        return start;
    }

private:
    ListFormat format;
    const Answerer& answerer;
    TailCache tails;
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
int WriteRows(std::string_view text, const QueryRequest& request, const Answerer& answerer) {
    const char inputSeparator = SeparatorOfFirstLine(text);
    const ListFormat format = request.formatGiven      ? request.format
                              : inputSeparator == '\t' ? ListFormat::kTsv
                                                       : ListFormat::kCsv;
    const char separator = format == ListFormat::kTsv ? '\t' : ',';
    const char* lineEnd = format == ListFormat::kCsv ? "\r\n" : "\n";
    const size_t column = static_cast<size_t>(request.column - 1);

    TailCache tails;
    Output out;
    if (format == ListFormat::kCsv) out.buffer += kUtf8Mark;
    std::vector<std::string> fields;
    size_t at = 0, width = 0;
    bool all = true, first = true;
    Progress progress(text.size());
    while (ReadRow(text, &at, inputSeparator, &fields)) {
        progress.Row(at);
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
            all &= a.Found();
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
            if (separator == ',') {
                tails.AppendCsv(o, a);
            } else {
                AppendAnswerFields(o, a, separator);
            }
            all &= a.Found();
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

int AnswerQuery(const QueryRequest& request, const Answerer& answerer, std::string* error) {
    if (request.format == ListFormat::kCsv || request.column != 0) UseBinaryOutput();
    bool all = true;
    if (!request.numbers.empty()) {
        ListWriter writer(request.format, answerer);
        for (const std::string& number : request.numbers) all &= writer.Write(number);
        return all ? 0 : 1;
    }
    if (request.column != 0 || !request.inputFile.empty()) {
        std::string bytes;
        if (!ReadAllBytes(request.inputFile, &bytes)) {
            *error = "cannot read " + (request.inputFile.empty() ? std::string("standard input") : request.inputFile);
            return 2;
        }
        const std::string text = DecodeToUtf8(std::move(bytes));
        if (request.column != 0) return WriteRows(text, request, answerer);
        ListWriter writer(request.format, answerer);
        Progress progress(text.size());
        writer.WriteLines(text, true, &all, &progress);
        return all ? 0 : 1;
    }
    // Standard input, streamed: a list of any length in little memory.
    ListWriter writer(request.format, answerer);
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
