// Every write and allocation of the operations that change files or the
// directory failing in turn, and a process killed in the middle of a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// A write filter that counts the writes and fails the one numbered `failing`
// (never, with 0), or ends the process before it if `kill`.
struct WriteFault {
    int seen = 0, failing = 0;
    bool kill = false;
};

bool CountOrFail(void* context, uint32_t) {
    auto* fault = static_cast<WriteFault*>(context);
    if (++fault->seen == fault->failing && fault->kill) std::_Exit(9);
    return fault->seen != fault->failing;
}

using FaultTest = DirectoryFixture;

}  // namespace

// Each write of an export and of a save failing in turn, and the process
// killed before it: a failed export leaves no file, and a failed save the old
// file whole and no temporary file. The directory has enough entries that an
// export takes several blocks.
TEST_F(FaultTest, AnyWriteFailingOrKilledLeavesTheOldFileOrTheNew) {
    const Bytes old = FixtureBytes("example.dat");
    ASSERT_TRUE(Load(old));
    ASSERT_TRUE(MakeDirectoryEditable());
    for (uint32_t key = 1500000; key < 1500000 + 20000; ++key)
        ASSERT_NE(AddEntry(Decimal(key).c_str(), u"很长的地区名称", u"类型"), -1);
    SortItems();
    const std::u16string out = scratch.Path(u"out.txt"), target = scratch.Path(u"Varnolt.dat");
    WriteFault exports, saves;
    SetWriteFilter(CountOrFail, &exports);
    ASSERT_EQ(ExportText(out.c_str()), 1);
    const Bytes exported = ReadBytes(out);
    SetWriteFilter(CountOrFail, &saves);
    const Bytes fresh = SavedBytes();
    ASSERT_GT(std::min(exports.seen, saves.seen), 3);
    for (int write = 1; write <= std::max(exports.seen, saves.seen) + 1; ++write) {
        const bool exportMade = write > exports.seen, saveMade = write > saves.seen;
        WriteFault exportFault{0, write}, saveFault{0, write};
        SetWriteFilter(CountOrFail, &exportFault);
        EXPECT_EQ(ExportText(out.c_str()), exportMade ? 1 : 0) << write;
        WriteBytes(target, old);
        SetWriteFilter(CountOrFail, &saveFault);
        EXPECT_EQ(SaveDirectory(target.c_str()), saveMade) << write;
        SetWriteFilter(nullptr, nullptr);
        EXPECT_EQ(ReadBytes(target), saveMade ? fresh : old) << write;
        // in.dat, the target, and the export once made
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.folder), {}), 2 + exportMade) << write;
#ifndef _WIN32
        WriteBytes(target, old);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            WriteFault kill{0, write, true};
            SetWriteFilter(CountOrFail, &kill);
            std::_Exit(SaveDirectory(target.c_str()) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        const Bytes now = ReadBytes(target);
        EXPECT_TRUE(now == old || now == fresh) << write;
        EXPECT_EQ(now == fresh, WEXITSTATUS(status) == 0) << write;
        RemoveFileAt((target.substr(0, target.size() - 1) + u"~").c_str());
#endif
    }
    EXPECT_EQ(ReadBytes(out), exported);
}

TEST_F(FaultTest, ImportWithAnyAllocationFailingIsAllOrNothing) {
    const std::u16string text = scratch.Path(u"lines.txt");
    WriteBytes(text, Utf16Le(u"1391234\t江苏\t移动\r\n1391235\t江苏\t移动\r\n755\t深圳\t固定\r\n", true));
    auto start = [&] { ASSERT_TRUE(Load(FixtureBytes("example.dat"))); };
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
