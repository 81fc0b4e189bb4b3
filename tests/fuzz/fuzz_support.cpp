#include "fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "directory/add_index.h"
#include "directory/directory.h"
#include "directory/heap.h"

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

void ResetFuzzDirectory() {
    InvalidateAddIndex();
    ReleaseBlock(directory.image);
    directory = Directory{};
}

const std::u16string& FuzzSeedDirectory() {
    static const std::u16string path = [] {
        static const uint8_t example[] = {
            0x56, 0x4E, 0x4C, 0x54, 0x24, 0x00, 0x00, 0x00, 0x0F, 0x03, 0xE8, 0x07, 0x65, 0x00, 0x00, 0x00, 0x02,
            0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x41, 0x00, 0x42, 0x00, 0x00, 0x00, 0x43, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x44, 0x00, 0x00, 0x00, 0x20, 0xD6, 0x53, 0x00, 0x00, 0x00, 0xA0, 0x0E, 0x15, 0x00, 0x00, 0x63};
        std::u16string p = FuzzPath(u"seed.dat");
        WriteFuzzFile(p, example, sizeof example);
        return p;
    }();
    return path;
}
