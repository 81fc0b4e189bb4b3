// What the fuzz targets share: scratch files.
#include "fuzz_support.h"

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

std::u16string FuzzPath(const std::u16string& name) {
    static const fs::path folder = [] {
        fs::path f = fs::temp_directory_path() / ("varnolt-fuzz-" + std::to_string(getpid()));
        fs::create_directories(f);
        return f;
    }();
    return (folder / fs::path(name)).u16string();
}

void WriteFuzzFile(const std::u16string& path, const uint8_t* data, size_t size) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFuzzFile(const std::u16string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
