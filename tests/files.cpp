#include "tests/files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    static std::atomic<int> serial{0};
    auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    folder = fs::temp_directory_path() / ("varnolt-test-" + stamp + "-" + std::to_string(serial++));
    fs::create_directories(folder);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::u16string ScratchFolder::Path(const std::u16string& name) const { return (folder / fs::path(name)).u16string(); }

Bytes ReadBytes(const std::u16string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::u16string& path, const Bytes& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
