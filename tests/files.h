// Scratch folders and whole files: for the unit tests and the fuzz targets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh, empty folder, removed again by the destructor.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    std::u16string Path(const std::u16string& name) const;
    std::filesystem::path folder;
};

Bytes ReadBytes(const std::u16string& path);
void WriteBytes(const std::u16string& path, const Bytes& bytes);
