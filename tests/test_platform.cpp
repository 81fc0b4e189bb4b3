// The platform layer: files, the module path, ANSI text.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/test_support.h"

TEST(Platform, WriteReadSeekAndSizeThroughUnicodePaths) {
    ScratchFolder scratch;
    // Chinese and non-BMP characters in the name: paths must survive conversion.
    std::u16string path = scratch.Path(u"归属地 \U0001F4DE.dat");
    FileHandle out = CreateFileForWrite(path.c_str());
    ASSERT_NE(out, kNoFile);
    const char data[] = "0123456789";
    EXPECT_TRUE(WriteFileBytes(out, data, 10));
    EXPECT_TRUE(FlushFileBytes(out));
    CloseFileHandle(out);

    FileHandle in = OpenFileForRead(path.c_str());
    ASSERT_NE(in, kNoFile);
    uint64_t length = 0;
    EXPECT_TRUE(GetFileLength(in, &length));
    EXPECT_EQ(length, 10u);
    char buffer[16] = {};
    uint32_t got = 0;
    EXPECT_TRUE(SeekFileTo(in, 7));
    EXPECT_TRUE(ReadFileBytes(in, buffer, 16, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    // A position past the end reads nothing rather than failing loudly.
    EXPECT_TRUE(SeekFileTo(in, 1000));
    got = 99;
    EXPECT_TRUE(ReadFileBytes(in, buffer, 4, &got));
    EXPECT_EQ(got, 0u);
    CloseFileHandle(in);

    // Create-always truncates an existing file.
    out = CreateFileForWrite(path.c_str());
    ASSERT_NE(out, kNoFile);
    CloseFileHandle(out);
    EXPECT_TRUE(ReadBytes(path).empty());

    EXPECT_EQ(OpenFileForRead(scratch.Path(u"missing.dat").c_str()), kNoFile);
    EXPECT_EQ(CreateFileForWrite(scratch.Path(u"no/such/folder.dat").c_str()), kNoFile);
}

TEST(Platform, ReplaceKeepsTheTargetWhole) {
    ScratchFolder scratch;
    std::u16string target = scratch.Path(u"Varnolt.dat"), fresh = scratch.Path(u"Varnolt.dat.new");
    WriteBytes(target, {1, 2, 3});
    WriteBytes(fresh, {4, 5});
    EXPECT_TRUE(ReplaceFileWith(fresh.c_str(), target.c_str()));
    EXPECT_EQ(ReadBytes(target), (Bytes{4, 5}));
    EXPECT_EQ(OpenFileForRead(fresh.c_str()), kNoFile);
    // A missing source fails and leaves the target alone.
    EXPECT_FALSE(ReplaceFileWith(fresh.c_str(), target.c_str()));
    EXPECT_EQ(ReadBytes(target), (Bytes{4, 5}));
    EXPECT_TRUE(RemoveFileAt(target.c_str()));
    EXPECT_FALSE(RemoveFileAt(target.c_str()));
}

TEST(Platform, AnsiTextIsCodePage936) {
    // "中国移动" in GBK, then ASCII.
    const char gbk[] = "\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\tA";
    char16_t out[32];
    EXPECT_EQ(AnsiToUtf16(gbk, out, 32), 7u);
    EXPECT_EQ(std::u16string(out), u"中国移动\tA");
    // Too small an output is refused, not overrun.
    char16_t tiny[3] = {u'#', u'#', u'#'};
    EXPECT_EQ(AnsiToUtf16(gbk, tiny, 2), 0u);
    EXPECT_EQ(tiny[2], u'#');
    EXPECT_EQ(AnsiToUtf16("", out, 1), 1u);
    EXPECT_EQ(out[0], 0);
}

TEST(Platform, DateAndModulePath) {
    LocalDate today = GetLocalDateToday();
    EXPECT_GE(today.year, 2024);
    EXPECT_GE(today.month, 1);
    EXPECT_LE(today.month, 12);
    EXPECT_GE(today.day, 1);
    EXPECT_LE(today.day, 31);

    char16_t path[260];
    uint32_t length = GetModulePath(path, 260);
    ASSERT_GT(length, 0u);
    EXPECT_NE(std::u16string(path).find(u"unit_tests"), std::u16string::npos);
    EXPECT_EQ(GetModulePath(path, 3), 0u);
}
