// Every write and allocation of the operations that change files or the
// directory failing in turn, and a process killed in the middle of a save.
#include <gtest/gtest.h>

#include <iterator>

#include "base/heap.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "exchange/text_exchange.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

struct FaultTest : DirectoryFixture {
    // The example directory with enough entries that an export takes
    // several blocks.
    void LoadBig() {
        ASSERT_TRUE(Load(ExampleDirectory()));
        ASSERT_TRUE(MakeDirectoryEditable());
        for (uint32_t key = 1500000; key < 1500000 + 20000; ++key)
            ASSERT_NE(AddEntry(Decimal(key).c_str(), u"很长的地区名称", u"类型"), -1);
        SortItems();
    }
};

}  // namespace

TEST_F(FaultTest, ExportWithAnyWriteFailingLeavesNoFile) {
    LoadBig();
    const std::u16string out = scratch.Path(u"out.txt");
    WriteFault count;
    SetWriteFilter(CountOrFail, &count);
    ASSERT_EQ(ExportText(out.c_str()), 1);
    const Bytes good = ReadBytes(out);
    ASSERT_GT(count.seen, 3);
    for (int failing = 1; failing <= count.seen + 1; ++failing) {  // the last one never fails
        WriteFault fault{0, failing};
        SetWriteFilter(CountOrFail, &fault);
        EXPECT_EQ(ExportText(out.c_str()), failing > count.seen ? 1 : 0) << failing;
        EXPECT_TRUE(failing > count.seen || OpenFileForRead(out.c_str()) == kNoFile) << failing;
    }
    EXPECT_EQ(ReadBytes(out), good);
}

TEST_F(FaultTest, ImportWithAnyAllocationFailingIsAllOrNothing) {
    const std::u16string text = scratch.Path(u"lines.txt");
    WriteBytes(text, Utf16Le(u"1391234\t江苏\t移动\r\n1391235\t江苏\t移动\r\n755\t深圳\t固定\r\n", true));
    auto start = [&] { ASSERT_TRUE(Load(ExampleDirectory())); };
    start();
    FailAllocationsFrom(0);
    ASSERT_EQ(ImportText(text.c_str()), 1);
    const unsigned allocations = FailAllocationsFrom(0);
    const Bytes imported = SavedBytes();
    for (unsigned failing = 1; failing <= allocations + 1; ++failing) {
        start();
        const DirectoryHeader before = directory.header;
        const uint8_t* image = directory.image;
        FailAllocationsFrom(failing);
        const int result = ImportText(text.c_str());
        FailAllocationsFrom(0);
        if (result == 1) {
            EXPECT_EQ(SavedBytes(), imported) << failing;
        } else {
            // Reading the text or making the image editable failed: nothing changed.
            EXPECT_EQ(directory.image, image) << failing;
            EXPECT_EQ(0, std::memcmp(&directory.header, &before, sizeof before)) << failing;
        }
    }
}

// Each write of a save failing in turn, and the process killed before it:
// the old file stays whole and no temporary file is left, unless every
// write was made.
TEST_F(FaultTest, SaveWithAnyWriteFailingOrKilledLeavesTheOldFileOrTheNew) {
    LoadBig();
    const std::u16string target = scratch.Path(u"Varnolt.dat");
    const Bytes old = ExampleDirectory();
    WriteFault count;
    SetWriteFilter(CountOrFail, &count);
    const Bytes fresh = SavedBytes();
    ASSERT_GT(count.seen, 3);
    for (int write = 1; write <= count.seen + 1; ++write) {
        WriteBytes(target, old);
        WriteFault fault{0, write};
        SetWriteFilter(CountOrFail, &fault);
        EXPECT_EQ(SaveDirectory(target.c_str()), write > count.seen) << write;
        SetWriteFilter(nullptr, nullptr);
        EXPECT_EQ(ReadBytes(target), write > count.seen ? fresh : old) << write;
        // in.dat and the target
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.folder), {}), 2) << write;
#ifndef _WIN32
        WriteBytes(target, old);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            static int at;
            at = write;
            SetWriteFilter(
                [](void*, uint32_t) {
                    if (--at == 0) _exit(9);  // the process dies before this write
                    return true;
                },
                nullptr);
            _exit(SaveDirectory(target.c_str()) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        const Bytes now = ReadBytes(target);
        EXPECT_TRUE(now == old || now == fresh) << write;
        EXPECT_EQ(now == fresh, WEXITSTATUS(status) == 0) << write;
        RemoveFileAt((target.substr(0, target.size() - 1) + u"~").c_str());
#endif
    }
}
