// The start-up path: finding the directory file beside the program.
#include <gtest/gtest.h>

#include <string>

#include "ui/startup.h"

namespace {

std::u16string Build(const std::u16string& modulePath, bool* ok = nullptr) {
    char16_t out[kPathUnits + 4];
    std::fill(std::begin(out), std::end(out), u'#');
    bool result = BuildDirectoryPath(modulePath.c_str(), out);
    if (ok) *ok = result;
    for (uint32_t i = kPathUnits; i < kPathUnits + 4; ++i) EXPECT_EQ(out[i], u'#');
    return out;
}

}  // namespace

TEST(BuildDirectoryPath, ReplacesTheExecutableName) {
    EXPECT_EQ(Build(u"C:\\Tools\\lookup.exe"), u"C:\\Tools\\Varnolt.dat");
    EXPECT_EQ(Build(u"C:\\Varnolt.exe"), u"C:\\Varnolt.dat");
    EXPECT_EQ(Build(u"\\\\server\\share\\v\\Varnolt.exe"), u"\\\\server\\share\\v\\Varnolt.dat");
    EXPECT_EQ(Build(u"C:\\a.b\\c"), u"C:\\a.b\\Varnolt.dat");
    EXPECT_EQ(Build(u"C:\\中文\\程序.exe"), u"C:\\中文\\Varnolt.dat");
}

TEST(BuildDirectoryPath, RefusesWhatHasNoSoundAnswer) {
    bool ok = true;
    EXPECT_EQ(Build(u"", &ok), u"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Build(u"lookup.exe", &ok), u"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Build(u"C:/Tools/lookup.exe", &ok), u"");  // forward slashes only
    EXPECT_FALSE(ok);

    // The longest folder that still leaves room for "Varnolt.dat" and its NUL.
    std::u16string folder = u"C:\\" + std::u16string(kPathUnits - 12 - 4, u'd') + u"\\";
    ASSERT_EQ(folder.size() + 12, kPathUnits);
    EXPECT_EQ(Build(folder + u"x.exe", &ok), folder + u"Varnolt.dat");
    EXPECT_TRUE(ok);
    std::u16string deeper = u"C:\\" + std::u16string(kPathUnits - 12 - 3, u'd') + u"\\";
    EXPECT_EQ(Build(deeper + u"x.exe", &ok), u"");
    EXPECT_FALSE(ok);
    // A module path that filled its buffer may have been cut short.
    EXPECT_EQ(Build(u"C:\\" + std::u16string(300, u'p'), &ok), u"");
    EXPECT_FALSE(ok);
}
