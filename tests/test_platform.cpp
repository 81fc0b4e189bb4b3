// The platform layer: files, the module path, ANSI text.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/test_support.h"

TEST(Platform, FilesThroughUnicodePaths) {
    ScratchFolder scratch;
    // Chinese and non-BMP characters in the name: paths must survive conversion.
    const std::u16string path = scratch.Path(u"归属地 \U0001F4DE.dat"), fresh = scratch.Path(u"fresh.dat");
    WriteBytes(path, Bytes(20, 7));  // create-always truncates what was there
    FileHandle file = CreateFileForWrite(path.c_str());
    ASSERT_NE(file, kNoFile);
    EXPECT_TRUE(WriteFileBytes(file, "0123456789", 10) && FlushFileBytes(file));
    CloseFileHandle(file);

    file = OpenFileForRead(path.c_str());
    ASSERT_NE(file, kNoFile);
    uint64_t length = 0;
    EXPECT_TRUE(GetFileLength(file, &length));
    EXPECT_EQ(length, 10u);
    char buffer[16] = {};
    uint32_t got = 0;
    EXPECT_TRUE(SeekFileTo(file, 7) && ReadFileBytes(file, buffer, 16, &got));
    EXPECT_EQ(std::string(buffer, got), "789");
    CloseFileHandle(file);

    // A replaced target takes the new file whole, and a missing source leaves
    // it alone.
    WriteBytes(fresh, {4, 5});
    EXPECT_TRUE(ReplaceFileWith(fresh.c_str(), path.c_str()));
    EXPECT_FALSE(ReplaceFileWith(fresh.c_str(), path.c_str()));
    EXPECT_EQ(ReadBytes(path), (Bytes{4, 5}));
    EXPECT_TRUE(RemoveFileAt(path.c_str()));
    EXPECT_FALSE(RemoveFileAt(path.c_str()));
}

TEST(Platform, AnsiTextDateAndModulePath) {
    // Too small an output is refused, not overrun: "中国移动" in GBK.
    const char gbk[] = "\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\tA";
    char16_t out[32];
    char16_t tiny[3] = {u'#', u'#', u'#'};
    EXPECT_EQ(AnsiToUtf16(gbk, tiny, 2), 0u);
    EXPECT_EQ(tiny[2], u'#');
    EXPECT_EQ(AnsiToUtf16("", out, 1), 1u);
    EXPECT_EQ(out[0], 0);

    const LocalDate today = GetLocalDateToday();
    EXPECT_TRUE(today.year >= 2024 && today.month >= 1 && today.month <= 12 && today.day >= 1 && today.day <= 31);
    char16_t path[3];
    EXPECT_EQ(GetModulePath(path, 3), 0u);
}
