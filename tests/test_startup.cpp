// The start-up path: finding the directory file beside the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/test_support.h"
#include "ui/startup.h"

// tests/data/directory_paths.tsv, and the paths at the length limit.
TEST(BuildDirectoryPath, ReplacesTheExecutableNameOrRefuses) {
    auto rows = ReadTable("directory_paths.tsv");
    // The longest folder that still leaves room for "Varnolt.dat" and its NUL,
    // one unit deeper, and a module path that filled its buffer and may be cut short.
    const std::u16string longest = u"C:\\" + std::u16string(kPathUnits - 12 - 4, u'd') + u"\\";
    const std::u16string deeper = u"C:\\" + std::u16string(kPathUnits - 12 - 3, u'd') + u"\\";
    rows.push_back({longest + u"x.exe", longest + u"Varnolt.dat"});
    rows.push_back({deeper + u"x.exe", u""});
    rows.push_back({u"C:\\" + std::u16string(300, u'p'), u""});
    for (const auto& row : rows) {
        char16_t out[kPathUnits + 4];
        std::fill(std::begin(out), std::end(out), u'#');
        EXPECT_EQ(BuildDirectoryPath(row[0].c_str(), out), !row[1].empty());
        EXPECT_EQ(std::u16string(out), row[1]);
        EXPECT_EQ(std::u16string(out + kPathUnits, 4), u"####");
    }
}
