// Each figure beside its baseline in the same run: ./scripts/bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/heap.h"
#include "directory/add.h"
#include "directory/add_index.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "directory/lookup_memory.h"
#include "exchange/text_exchange.h"
#include "keys/derive.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "platform/whole_file.h"
#include "varnolt.h"

#ifdef VARNOLT_WITH_LIBPHONENUMBER
#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumberutil.h>
#endif

namespace {

namespace fs = std::filesystem;

std::u16string Scratch(const char* name) {
    return (fs::temp_directory_path() / ("varnolt-bench-" + std::string(name))).u16string();
}

void Reset() { ClearDirectory(); }

const std::u16string& NationalText() {
    static std::u16string path;
    if (path.empty()) {
        path = Scratch("national.txt");
        Reset();
        if (!LoadDirectory(u"" VARNOLT_DATA) || !ExportText(path.c_str())) std::abort();
    }
    return path;
}

// Import into an empty directory, or into one already holding the table.
void Import(benchmark::State& state, bool indexed, bool again) {
    const std::u16string& text = NationalText();
    SetAddIndexEnabled(indexed);
    for (auto _ : state) {
        state.PauseTiming();
        Reset();
        if (again && !ImportText(text.c_str())) std::abort();
        state.ResumeTiming();
        if (!ImportText(text.c_str())) std::abort();
    }
    state.counters["items"] = directory.header.itemCount;
    // The index as a further add finds it (the import's sort dropped it).
    AddEntry(u"1", u"bench", u"bench");
    state.counters["index_MiB"] = double(AddIndexBytes()) / (1 << 20);
    SetAddIndexEnabled(true);
}
void BM_ImportIntoEmpty(benchmark::State& s) { Import(s, true, false); }
void BM_ImportIntoEmpty_LiteralScan(benchmark::State& s) { Import(s, false, false); }
void BM_ImportAgain(benchmark::State& s) { Import(s, true, true); }
void BM_ImportAgain_LiteralScan(benchmark::State& s) { Import(s, false, true); }
BENCHMARK(BM_ImportIntoEmpty)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportIntoEmpty_LiteralScan)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ImportAgain)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ImportAgain_LiteralScan)->Unit(benchmark::kMillisecond)->Iterations(1);

// Random real mobile numbers: the directory's own mobile keys with random
// subscriber digits.
const std::vector<std::u16string>& MobileNumbers() {
    static std::vector<std::u16string> numbers;
    if (numbers.empty()) {
        Reset();
        if (!LoadDirectory(u"" VARNOLT_DATA)) std::abort();
        std::vector<uint32_t> keys;
        for (uint32_t i = 0; i < directory.header.itemCount; ++i) {
            const ItemFields f = DecodeItem(&directory.items[i]);
            for (uint32_t k = f.start; k <= f.start + f.span; ++k)
                if (k >= 1300000) keys.push_back(k);
        }
        std::mt19937 random(86);
        for (int i = 0; i < 1 << 16; ++i) {
            std::string text = std::to_string(keys[random() % keys.size()]);
            char tail[8];
            std::snprintf(tail, sizeof tail, "%04u", unsigned(random() % 10000));
            text += tail;
            numbers.emplace_back(text.begin(), text.end());
        }
    }
    return numbers;
}

void BM_DeriveAndLookup(benchmark::State& state) {
    const auto& numbers = MobileNumbers();
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const RangeItem* item = LookupNumber(uint32_t(DeriveNumberKey(numbers[i].c_str())));
        found += item != nullptr;
        benchmark::DoNotOptimize(item);
        i = (i + 1) & (numbers.size() - 1);
    }
    state.counters["found"] = double(found) / double(state.iterations());
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_DeriveAndLookup);

// The C library: a number as written to its whole answer (status, key, area,
// type, province, city, area code), on one thread and on two over one
// opened directory.
varnolt* NationalLibraryDirectory() {
    static varnolt* opened = nullptr;
    if (!opened && varnolt_open(VARNOLT_DATA, &opened) != VARNOLT_OK) std::abort();
    return opened;
}

const std::vector<std::string>& LibraryNumbers(bool written) {
    static std::vector<std::string> plain, spelled;
    if (plain.empty()) {
        for (const std::u16string& number : MobileNumbers()) {
            const std::string digits(number.begin(), number.end());
            plain.push_back(digits);
            spelled.push_back("Tel: +86 " + digits.substr(0, 3) + " " + digits.substr(3, 4) + " " + digits.substr(7));
        }
    }
    return written ? spelled : plain;
}

void CLookup(benchmark::State& state, bool written) {
    const varnolt* opened = NationalLibraryDirectory();
    const std::vector<std::string>& numbers = LibraryNumbers(written);
    size_t i = size_t(state.thread_index()) * 977, found = 0;
    varnolt_answer answer;
    for (auto _ : state) {
        varnolt_lookup(opened, numbers[i].c_str(), &answer, sizeof answer);
        found += answer.status == VARNOLT_FOUND;
        benchmark::DoNotOptimize(answer);
        i = (i + 1) & (numbers.size() - 1);
    }
    state.counters["found"] =
        benchmark::Counter(double(found) / double(state.iterations()), benchmark::Counter::kAvgThreads);
    state.SetItemsProcessed(int64_t(state.iterations()));
}
void BM_CLookup(benchmark::State& s) { CLookup(s, false); }
void BM_CLookupWritten(benchmark::State& s) { CLookup(s, true); }
BENCHMARK(BM_CLookup)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_CLookupWritten)->Threads(1)->UseRealTime();

// The bare lower bound over the same items, on keys derived beforehand.
void BM_BareLowerBound(benchmark::State& state) {
    const auto& numbers = MobileNumbers();
    std::vector<uint32_t> keys;
    for (const auto& n : numbers) keys.push_back(uint32_t(DeriveNumberKey(n.c_str())));
    const RangeItem* items = directory.items;
    const uint32_t count = directory.header.itemCount;
    size_t i = 0;
    for (auto _ : state) {
        const uint32_t key = keys[i];
        const RangeItem* at = std::lower_bound(items, items + count, key,
                                               [](const RangeItem& item, uint32_t k) { return ItemStart(&item) < k; });
        benchmark::DoNotOptimize(at);
        i = (i + 1) & (keys.size() - 1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_BareLowerBound);

#ifdef VARNOLT_WITH_LIBPHONENUMBER
void BM_LibphonenumberParseAndGeocode(benchmark::State& state) {
    const auto& numbers = MobileNumbers();
    std::vector<std::string> texts;
    for (const auto& n : numbers) texts.emplace_back(n.begin(), n.end());
    const i18n::phonenumbers::PhoneNumberUtil& util = *i18n::phonenumbers::PhoneNumberUtil::GetInstance();
    i18n::phonenumbers::PhoneNumberOfflineGeocoder geocoder;
    const icu::Locale chinese("zh", "CN");
    size_t i = 0;
    for (auto _ : state) {
        i18n::phonenumbers::PhoneNumber number;
        util.Parse(texts[i], "CN", &number);
        std::string place = geocoder.GetDescriptionForNumber(number, chinese);
        benchmark::DoNotOptimize(place);
        i = (i + 1) & (texts.size() - 1);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_LibphonenumberParseAndGeocode);
#endif

struct ReadCount {
    uint64_t reads = 0, bytes = 0;
};
void CountRead(void* context, uint64_t, uint32_t length) {
    auto* count = static_cast<ReadCount*>(context);
    ++count->reads;
    count->bytes += length;
}

void BM_LookupNumberInFile(benchmark::State& state) {
    const auto& numbers = MobileNumbers();
    ReadCount count;
    size_t i = 0;
    char16_t area[kLookupNameUnits], type[kLookupNameUnits];
    SetReadObserver(CountRead, &count);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            LookupNumberInFile(u"" VARNOLT_DATA, uint32_t(DeriveNumberKey(numbers[i].c_str())), area, type));
        i = (i + 1) & (numbers.size() - 1);
    }
    SetReadObserver(nullptr, nullptr);
    state.counters["reads"] = double(count.reads) / double(state.iterations());
    state.counters["bytes"] = double(count.bytes) / double(state.iterations());
}
BENCHMARK(BM_LookupNumberInFile)->Unit(benchmark::kMicrosecond);

void LoadNational() {
    Reset();
    if (!LoadDirectory(u"" VARNOLT_DATA)) std::abort();
}

void BM_Export(benchmark::State& state) {
    LoadNational();
    const std::u16string out = Scratch("export.txt");
    for (auto _ : state)
        if (!ExportText(out.c_str())) std::abort();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(fs::path(out))));
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond);

// The same bytes in one write: what an export cannot beat.
void BM_Export_OneWrite(benchmark::State& state) {
    const std::u16string in = Scratch("export.txt"), out = Scratch("export-copy.txt");
    uint32_t length = UINT32_MAX;
    uint8_t* bytes = ReadWholeFile(in.c_str(), &length);
    for (auto _ : state) {
        FileHandle file = CreateFileForWrite(out.c_str());
        if (!WriteFileBytes(file, bytes, length)) std::abort();
        CloseFileHandle(file);
    }
    ReleaseBlock(bytes);
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
}
BENCHMARK(BM_Export_OneWrite)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
    for (auto _ : state)
        if (!LoadDirectory(u"" VARNOLT_DATA)) std::abort();
}
BENCHMARK(BM_Load)->Unit(benchmark::kMicrosecond);

void BM_Load_ReadBytes(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t length = UINT32_MAX;
        uint8_t* bytes = ReadWholeFile(u"" VARNOLT_DATA, &length);
        benchmark::DoNotOptimize(bytes);
        ReleaseBlock(bytes);
    }
}
BENCHMARK(BM_Load_ReadBytes)->Unit(benchmark::kMicrosecond);

void BM_Save(benchmark::State& state) {
    LoadNational();
    const std::u16string out = Scratch("save.dat");
    for (auto _ : state)
        if (!SaveDirectory(out.c_str())) std::abort();
}
BENCHMARK(BM_Save)->Unit(benchmark::kMicrosecond);

// The same bytes written, flushed and renamed into place in one go.
void BM_Save_WriteBytes(benchmark::State& state) {
    uint32_t length = UINT32_MAX;
    uint8_t* bytes = ReadWholeFile(u"" VARNOLT_DATA, &length);
    const std::u16string out = Scratch("save-copy.dat"), temporary = Scratch("save-copy.dat.new");
    for (auto _ : state) {
        FileHandle file = CreateFileForWrite(temporary.c_str());
        if (!WriteFileBytes(file, bytes, length) || !FlushFileBytes(file)) std::abort();
        CloseFileHandle(file);
        if (!ReplaceFileWith(temporary.c_str(), out.c_str())) std::abort();
    }
    ReleaseBlock(bytes);
}
BENCHMARK(BM_Save_WriteBytes)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
