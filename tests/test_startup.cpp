// The start-up path: finding the directory file beside the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "ui/startup.h"

// The executable's name is replaced; an empty answer is a refusal.
TEST(BuildDirectoryPath, ReplacesTheExecutableNameOrRefuses) {
    // The longest folder that still leaves room for "Varnolt.dat" and its NUL.
    const std::u16string longest = u"C:\\" + std::u16string(kPathUnits - 12 - 4, u'd') + u"\\";
    const std::u16string deeper = u"C:\\" + std::u16string(kPathUnits - 12 - 3, u'd') + u"\\";
    const std::pair<std::u16string, std::u16string> rows[] = {
        {u"C:\\Tools\\lookup.exe", u"C:\\Tools\\Varnolt.dat"},
        {u"C:\\Varnolt.exe", u"C:\\Varnolt.dat"},
        {u"\\\\server\\share\\v\\Varnolt.exe", u"\\\\server\\share\\v\\Varnolt.dat"},
        {u"C:\\a.b\\c", u"C:\\a.b\\Varnolt.dat"},
        {u"C:\\中文\\程序.exe", u"C:\\中文\\Varnolt.dat"},
        {longest + u"x.exe", longest + u"Varnolt.dat"},
        {u"", u""},
        {u"lookup.exe", u""},
        {u"C:/Tools/lookup.exe", u""},  // forward slashes only
        {deeper + u"x.exe", u""},
        {u"C:\\" + std::u16string(300, u'p'), u""},  // a module path that filled its buffer may be cut short
    };
    for (const auto& [modulePath, expected] : rows) {
        char16_t out[kPathUnits + 4];
        std::fill(std::begin(out), std::end(out), u'#');
        EXPECT_EQ(BuildDirectoryPath(modulePath.c_str(), out), !expected.empty());
        EXPECT_EQ(std::u16string(out), expected);
        EXPECT_EQ(std::u16string(out + kPathUnits, 4), u"####");
    }
}
