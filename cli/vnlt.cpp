// vnlt: the directory from the command line, for scripts and batch lookups.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/locate.h"
#include "directory/directory.h"
#include "exchange/text_exchange.h"
#include "exchange/utf8.h"
#include "keys/number_key.h"
#include "platform/platform.h"
#include "version.h"

namespace {

const char kUsage[] =
    "usage: vnlt [--dat FILE] COMMAND ...\n"
    "  query [NUMBER...]     dialled numbers, or one per line from standard input\n"
    "  lookup KEY            one number key, answered from the file without loading it\n"
    "  add KEY AREA TYPE     add one entry and save\n"
    "  import FILE...        import each text file, then save\n"
    "  export FILE           export the directory as UTF-16LE text\n"
    "  stats                 the statistics\n"
    "The directory file is the one --dat names, else the first found of Varnolt.dat\n"
    "beside vnlt, ~/.local/share/varnolt/Varnolt.dat (your own copy) and\n"
    "../share/varnolt/Varnolt.dat beside vnlt's folder (the packaged copy, which add\n"
    "and import never change: they start your own copy from it).\n";

// The program's own words for each failure.
const char kAddFailed[] = "记录添加失败。\n\n请确保要添加的号码小于 4194304。";
const char kSaveFailed[] = "保存失败。\n\n请确保数据文件可写。";
const char kImportFailed[] = "数据导入不成功。";
const char kExportFailed[] = "数据导出不成功。";

constexpr int kFound = 0, kNotFound = 1, kFailed = 2;

DirectoryFiles directoryFiles;

int Fail(const std::string& what, const std::u16string& subject = u"") {
    std::string line = what;
    for (char& c : line)
        if (c == '\n') c = ' ';
    if (!subject.empty()) line += " (" + Utf16ToUtf8(subject.c_str()) + ")";
    std::fprintf(stderr, "vnlt: %s\n", line.c_str());
    return kFailed;
}

bool FileExists(const std::u16string& path) {
    FileHandle file = OpenFileForRead(path.c_str());
    CloseFileHandle(file);
    return file != kNoFile;
}

// Loads the directory; a missing file gives the empty directory when
// `missingIsEmpty`, but a file that is there and unreadable never does, so
// that a save cannot replace it.
bool Load(bool missingIsEmpty) {
    if (directoryFiles.read.empty()) {
        if (missingIsEmpty) return true;
        Fail("no directory file: none beside vnlt, in ~/.local/share/varnolt or in ../share/varnolt; name one with --dat");
        return false;
    }
    const std::u16string file = Utf8ToUtf16(directoryFiles.read);
    if (LoadDirectory(file.c_str())) return true;
    if (missingIsEmpty && !FileExists(file)) return true;
    Fail(FileExists(file) ? "not a directory file" : "no directory file", file);
    return false;
}

// Output in large blocks: a batch query writes millions of lines.
struct Output {
    std::string buffer;
    void Put(const char* text, size_t length) {
        buffer.append(text, length);
        if (buffer.size() >= (1 << 20)) Flush();
    }
    void Put(const std::string& text) { Put(text.data(), text.size()); }
    void Flush() {
        std::fwrite(buffer.data(), 1, buffer.size(), stdout);
        buffer.clear();
    }
};

// Drops what people write between digits and the country code, then derives
// the key: "+86 139-1234-5678" answers like 13912345678.
uint32_t KeyOfWrittenNumber(const char* text, size_t length) {
    char16_t units[260];
    size_t n = 0;
    for (size_t i = 0; i < length && n + 1 < 260; ++i) {
        const char c = text[i];
        if (c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '\t') continue;
        units[n++] = static_cast<unsigned char>(c);
    }
    units[n] = 0;
    const char16_t* start = units;
    if (n >= 3 && units[0] == u'+' && units[1] == u'8' && units[2] == u'6') start += 3;
    else if (n >= 4 && units[0] == u'0' && units[1] == u'0' && units[2] == u'8' && units[3] == u'6') start += 4;
    return static_cast<uint32_t>(DeriveNumberKey(start));
}

// Names converted once each, so a batch query allocates nothing per number.
std::vector<std::string> areaNames, typeNames;

const std::string& CachedName(std::vector<std::string>& cache, uint32_t index, const char16_t* name) {
    if (cache.size() <= index) cache.resize(index + 1);
    if (cache[index].empty() && *name) cache[index] = Utf16ToUtf8(name);
    return cache[index];
}

bool AnswerNumber(Output& out, const char* text, size_t length) {
    const RangeItem* item = LookupNumber(KeyOfWrittenNumber(text, length));
    out.Put(text, length);
    out.Put("\t", 1);
    if (item) {
        const ItemFields fields = DecodeItem(item);
        out.Put(CachedName(areaNames, fields.areaIndex, AreaName(item)));
        out.Put("\t", 1);
        out.Put(CachedName(typeNames, fields.typeIndex, TypeName(item)));
    } else {
        out.Put("\t", 1);
    }
    out.Put("\n", 1);
    return item != nullptr;
}

int Query(const std::vector<std::string>& numbers) {
    if (!Load(false)) return kFailed;
    Output out;
    bool all = true;
    if (!numbers.empty()) {
        for (const std::string& number : numbers) all &= AnswerNumber(out, number.data(), number.size());
    } else {
        std::string pending;
        std::vector<char> block(1 << 20);
        size_t got;
        while ((got = std::fread(block.data(), 1, block.size(), stdin)) > 0) {
            pending.append(block.data(), got);
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
                size_t stop = end;
                if (stop > start && pending[stop - 1] == '\r') --stop;
                all &= AnswerNumber(out, pending.data() + start, stop - start);
            }
            pending.erase(0, start);
        }
        if (!pending.empty()) all &= AnswerNumber(out, pending.data(), pending.size());
    }
    out.Flush();
    return all ? kFound : kNotFound;
}

int Lookup(const std::string& keyText) {
    const std::u16string text = Utf8ToUtf16(keyText);
    const uint32_t key = ParseDecimalKey(text.c_str());
    char16_t area[kLookupNameUnits], type[kLookupNameUnits];
    if (directoryFiles.read.empty()) return Fail("no directory file; name one with --dat");
    if (!LookupNumberInFile(Utf8ToUtf16(directoryFiles.read).c_str(), key, area, type)) {
        std::printf("%s\t\t\n", keyText.c_str());
        return kNotFound;
    }
    std::printf("%s\t%s\t%s\n", keyText.c_str(), Utf16ToUtf8(area).c_str(), Utf16ToUtf8(type).c_str());
    return kFound;
}

// Saves where vnlt writes; a directory read from the packaged copy becomes
// the user's own copy, and vnlt says so.
int Save() {
    const std::string& target = directoryFiles.write;
    if (target.empty()) return Fail("nowhere to keep your own copy of the directory: set HOME or XDG_DATA_HOME");
    const std::u16string file = Utf8ToUtf16(target);
    if (!PrepareFolderOf(target) || !SaveDirectory(file.c_str())) return Fail(kSaveFailed, file);
    if (directoryFiles.startsOwnCopy)
        std::fprintf(stderr, "vnlt: started your own copy %s from %s\n", target.c_str(), directoryFiles.read.c_str());
    return kFound;
}

int Add(const std::string& key, const std::string& area, const std::string& type) {
    if (!Load(true)) return kFailed;
    if (!MakeDirectoryEditable()) return Fail(kAddFailed);
    if (AddEntry(Utf8ToUtf16(key).c_str(), Utf8ToUtf16(area).c_str(), Utf8ToUtf16(type).c_str()) == -1)
        return Fail(kAddFailed);
    SortItems();
    return Save();
}

int Import(const std::vector<std::string>& files) {
    if (!Load(true)) return kFailed;
    for (const std::string& file : files) {
        const std::u16string path = Utf8ToUtf16(file);
        if (!ImportText(path.c_str())) return Fail(kImportFailed, path);
    }
    return Save();
}

int Export(const std::string& file) {
    if (!Load(false)) return kFailed;
    const std::u16string path = Utf8ToUtf16(file);
    return ExportText(path.c_str()) ? kFound : Fail(kExportFailed, path);
}

int Stats() {
    if (!Load(false)) return kFailed;
    const DirectoryHeader& h = directory.header;
    const uint32_t total = DirectoryFileSize(h);
    std::printf("数据版本: %u.%u.%u\n\n记录: %u 条，占用: %u 字节\n项目: %u 条，占用: %u 字节\n"
                "归属: %u 种，占用: %u 字节\n类型: %u 种，占用: %u 字节\n",
                unsigned(h.versionYear), unsigned(h.versionMonth), unsigned(h.versionDay), unsigned(h.numberCount),
                unsigned(total), unsigned(h.itemCount), unsigned(6 * h.itemCount), unsigned(h.areaCount),
                unsigned(2 * (h.areaCount + h.areaPoolLength)), unsigned(h.typeCount),
                unsigned(2 * (h.typeCount + h.typePoolLength)));
    std::printf("文件: %s\n", directoryFiles.read.c_str());
    return kFound;
}

int Usage() {
    std::fputs(kUsage, stderr);
    return kFailed;
}

int Run(std::vector<std::string> args) {
    std::string dat;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return kFound;
    }
    if (!args.empty() && args[0] == "--version") {
        std::puts("vnlt " VARNOLT_VERSION_TEXT);
        return kFound;
    }
    if (args.size() >= 2 && args[0] == "--dat") {
        dat = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    directoryFiles = LocateDirectoryFiles(dat);
    if (args.empty()) return Usage();
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "query") return Query(rest);
    if (command == "lookup" && rest.size() == 1) return Lookup(rest[0]);
    if (command == "add" && rest.size() == 3) return Add(rest[0], rest[1], rest[2]);
    if (command == "import" && !rest.empty()) return Import(rest);
    if (command == "export" && rest.size() == 1) return Export(rest[0]);
    if (command == "stats" && rest.empty()) return Stats();
    return Usage();
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16, so Chinese texts and paths survive whatever the
// console's code page.
int wmain(int argc, wchar_t** argv) {
    PrepareConsoleForUtf8();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
