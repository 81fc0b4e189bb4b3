// Helpers of the unit tests: scratch folders, fixture files and directories built from parts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "directory/directory.h"
#include "tests/files.h"

Bytes FixtureBytes(const char* name);
// `text` as UTF-16LE bytes, after the byte order mark if `mark`.
Bytes Utf16Le(const std::u16string& text, bool mark);

// Builds a directory file from names and items.
Bytes BuildDirectoryFile(const std::vector<std::u16string>& areas, const std::vector<std::u16string>& types,
                         const std::vector<ItemFields>& items);

// The rows of a table under tests/data, each a list of fields.
std::vector<std::vector<std::u16string>> ReadTable(const char* name);
// A number field of such a table: decimal, or hexadecimal after 0x.
int64_t Number(const std::u16string& field);

// The bytes SaveDirectory would write for the directory in memory.
Bytes SavedBytes();

std::u16string Decimal(uint64_t value);

// "area|type" of a key in the directory, or "-" when it is not found.
std::u16string Entry(uint32_t key);

// Starts from the empty directory and leaves no failing write or allocation
// behind for the next test.
struct DirectoryFixture : testing::Test {
    void SetUp() override { ClearDirectory(); }
    void TearDown() override;
    // Loads `file` written into the scratch folder.
    bool Load(const Bytes& file);
    ScratchFolder scratch;
};
