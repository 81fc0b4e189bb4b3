// vnlt: the directory from the command line, for scripts and batch lookups.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "answer/answer.h"
#include "base/utf8.h"
#include "cli/locate.h"
#include "cli/query.h"
#ifndef _WIN32
#include "serve/serve.h"
#endif
#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "exchange/text_exchange.h"
#include "keys/decimal.h"
#include "platform/platform.h"
#include "ui/strings.h"
#include "version.h"

namespace {

const char kNoDirectoryFile[] =
    "no directory file: none beside vnlt, in ~/.local/share/varnolt or in ../share/varnolt; name one with --dat";

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

// Loads the directory; a missing file gives the empty directory when
// `missingIsEmpty`, but a file that is there and unreadable never does, so
// that a save cannot replace it.
bool Load(bool missingIsEmpty) {
    if (directoryFiles.read.empty()) {
        if (missingIsEmpty) return true;
        Fail(kNoDirectoryFile);
        return false;
    }
    const std::u16string file = Utf8ToUtf16(directoryFiles.read);
    const DirectoryResult result = LoadDirectoryWithResult(file.c_str());
    if (result == kDirectoryOk || (missingIsEmpty && result == kDirectoryMissing)) return true;
    Fail(DirectoryResultText(result), file);
    return false;
}

// Queries read a directory of their own, as the library and the service do.
int Query(const QueryRequest& request) {
    if (directoryFiles.read.empty()) return Fail(kNoDirectoryFile);
    const std::u16string file = Utf8ToUtf16(directoryFiles.read);
    std::unique_ptr<AnsweringDirectory> opened;
    const DirectoryResult result = OpenAnswering(file.c_str(), &opened);
    if (result != kDirectoryOk) return Fail(DirectoryResultText(result), file);
    std::string error;
    const int code = AnswerQuery(request, opened->answerer, &error);
    if (code == kFailed) Fail(error);
    return code;
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
    if (!PrepareFolderOf(target) || !SaveDirectory(file.c_str())) return Fail(TEXT_SAVE_FAILED, file);
    if (directoryFiles.startsOwnCopy)
        std::fprintf(stderr, "vnlt: started your own copy %s from %s\n", target.c_str(), directoryFiles.read.c_str());
    return kFound;
}

int Add(const std::string& key, const std::string& area, const std::string& type) {
    if (!Load(true)) return kFailed;
    if (!MakeDirectoryEditable()) return Fail(TEXT_ADD_FAILED);
    if (AddEntry(Utf8ToUtf16(key).c_str(), Utf8ToUtf16(area).c_str(), Utf8ToUtf16(type).c_str()) == -1)
        return Fail(TEXT_ADD_FAILED);
    SortItems();
    return Save();
}

int Import(const std::vector<std::string>& files) {
    if (!Load(true)) return kFailed;
    for (const std::string& file : files) {
        const std::u16string path = Utf8ToUtf16(file);
        if (!ImportText(path.c_str())) return Fail(TEXT_IMPORT_FAILED, path);
    }
    return Save();
}

int Export(const std::string& file) {
    if (!Load(false)) return kFailed;
    const std::u16string path = Utf8ToUtf16(file);
    return ExportText(path.c_str()) ? kFound : Fail(TEXT_EXPORT_FAILED, path);
}

int Stats() {
    if (!Load(false)) return kFailed;
    // The program's statistics box, word for word.
    const DirectoryStatistics s = StatisticsOf(directory.header);
    std::printf(TEXT_STATISTICS "\n", unsigned(s.versionYear), unsigned(s.versionMonth), unsigned(s.versionDay),
                unsigned(s.numbers), unsigned(s.fileBytes), unsigned(s.items), unsigned(s.itemBytes), unsigned(s.areas),
                unsigned(s.areaBytes), unsigned(s.types), unsigned(s.typeBytes));
    std::printf("文件: %s\n", directoryFiles.read.c_str());
    return kFound;
}

#ifndef _WIN32
int ServeDirectory(ServeOptions options) {
    if (directoryFiles.read.empty()) return Fail(kNoDirectoryFile);
    options.file = directoryFiles.read;
    std::string error;
    const int code = Serve(options, &error);
    if (code == kFailed) Fail(error);
    return code;
}
#endif

int Run(const std::vector<std::string>& args) {
    CLI::App app("The home area (归属地) and number type of Chinese telephone numbers, from Varnolt.dat.", "vnlt");
    app.set_version_flag("--version", "vnlt " VARNOLT_VERSION_TEXT);
    // Paths such as /tmp/x are arguments, not Windows-style options, even in vnlt.exe.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.fallthrough();
    std::string dat;
    app.add_option("--dat", dat,
                   "the directory file (default: Varnolt.dat beside vnlt, else your own copy in "
                   "~/.local/share/varnolt, else the packaged copy in ../share/varnolt)")
        ->option_text("FILE");

    QueryRequest request;
    std::string format = "tsv";
    CLI::App* query = app.add_subcommand("query", "answer dialled or written numbers, from the arguments or the input");
    query->add_option("NUMBER", request.numbers, "numbers as written (+86 139 1234 5678); none: read the input");
    query
        ->add_option("--format", format,
                     "tsv: NUMBER TAB AREA TAB TYPE (default); csv: RFC 4180, UTF-8 with BOM, CR LF, header; "
                     "jsonl: one JSON object a line. Columns: number, key, found, area, type, province, city, "
                     "areaCode")
        ->check(CLI::IsMember({"tsv", "csv", "jsonl"}))
        ->option_text("tsv|csv|jsonl");
    query
        ->add_option("--input", request.inputFile,
                     "read from FILE instead of standard input (UTF-8, UTF-16LE with BOM, or GBK)")
        ->option_text("FILE");
    query
        ->add_option("--column", request.column,
                     "take the number from column N of each CSV or TSV row and write the rows back whole with "
                     "the answer's columns appended (a header row gets their names)")
        ->check(CLI::PositiveNumber)
        ->option_text("N");

    std::string key, area, type, file;
    std::vector<std::string> files;
    CLI::App* lookup = app.add_subcommand("lookup", "one number key, answered from the file without loading it");
    lookup->add_option("KEY", key, "the number key in decimal")->required();
    CLI::App* add = app.add_subcommand("add", "add one entry and save");
    add->add_option("KEY", key, "the number key in decimal")->required();
    add->add_option("AREA", area, "the home area")->required();
    add->add_option("TYPE", type, "the number type")->required();
    CLI::App* import = app.add_subcommand("import", "import each tab-separated text file, then save");
    import->add_option("FILE", files, "key TAB area TAB type lines; UTF-16LE or ANSI/GBK")->required();
    CLI::App* exportCommand = app.add_subcommand("export", "export the directory as UTF-16LE text");
    exportCommand->add_option("FILE", file, "the text file to write")->required();
    CLI::App* stats = app.add_subcommand("stats", "the statistics");
#ifndef _WIN32
    ServeOptions serveOptions;
    CLI::App* serve = app.add_subcommand("serve", "answer lookups over HTTP (JSON); SIGHUP loads the file again");
    serve
        ->add_option("--listen", serveOptions.listen,
                     "the address and port (default 127.0.0.1:8080; [::1]:8080 for IPv6)")
        ->option_text("ADDRESS:PORT");
    serve->add_option("--threads", serveOptions.threads, "threads for connections (default: one per processor)")
        ->check(CLI::Range(1, 256))
        ->option_text("N");
    serve
        ->add_option("--batch-threads", serveOptions.batchThreads,
                     "threads answering batches (default: one per processor)")
        ->check(CLI::Range(1, 256))
        ->option_text("N");
    serve->add_option("--max-connections", serveOptions.maxConnections, "open connections at most (default 1024)")
        ->check(CLI::Range(1, 100000))
        ->option_text("N");
    serve
        ->add_option("--max-per-address", serveOptions.maxPerAddress,
                     "open connections from one client address at most; 0: no cap, as behind a proxy "
                     "(default 128)")
        ->check(CLI::Range(0, 100000))
        ->option_text("N");
    serve
        ->add_option("--timeout", serveOptions.idleSeconds,
                     "seconds for a whole request to arrive from its first byte, or for the client to take each "
                     "piece of a reply; idle connections close after it (default 30)")
        ->check(CLI::Range(1, 3600))
        ->option_text("SECONDS");
    serve
        ->add_option("--batch-memory", serveOptions.batchMemoryMiB,
                     "MiB for the batches in hand, all together, taken as their bodies arrive; past it a batch "
                     "waits a second, then gets 503 (default 256)")
        ->check(CLI::Range(16, 1048576))
        ->option_text("MIB");
    serve
        ->add_option("--drain", serveOptions.drainSeconds,
                     "seconds to finish the requests in hand on SIGTERM (default 20)")
        ->check(CLI::Range(0, 3600))
        ->option_text("SECONDS");
    serve->add_flag("--access-log", serveOptions.accessLog, "log every request on standard error");
#endif

    std::vector<const char*> argv{"vnlt"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    if (args.empty()) {
        std::fputs(app.help().c_str(), stderr);
        return kFailed;
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForVersion& e) {
        std::puts(e.what());
        return kFound;
    } catch (const CLI::ParseError& e) {
        // Help and version end well; every other parse error is a usage error.
        if (e.get_exit_code() == 0) return app.exit(e);
        app.exit(e);
        return kFailed;
    }
    directoryFiles = LocateDirectoryFiles(dat);
    if (query->parsed()) {
        request.format = format == "csv" ? ListFormat::kCsv : format == "jsonl" ? ListFormat::kJsonl : ListFormat::kTsv;
        request.formatGiven = query->count("--format") != 0;
        return Query(request);
    }
    if (lookup->parsed()) return Lookup(key);
    if (add->parsed()) return Add(key, area, type);
    if (import->parsed()) return Import(files);
    if (exportCommand->parsed()) return Export(file);
    if (stats->parsed()) return Stats();
#ifndef _WIN32
    if (serve->parsed()) return ServeDirectory(serveOptions);
#endif
    // The parse above admits no other way here: it requires one command.
    return kFailed;  // GCOVR_EXCL_LINE
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16, so Chinese texts and paths survive whatever the
// console's code page.
int wmain(int argc, wchar_t** argv) {
    PrepareConsoleForUtf8();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf16ToUtf8(AsText16(argv[i])));
    return Run(args);
}
#else
int main(int argc, char** argv) {
    PrepareConsoleForUtf8();
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
