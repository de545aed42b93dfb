// Names a run is given that stand for something other than a plain file: links, FIFOs, device
// nodes, directories; full and read-only disks; writers racing for one name; oversized settings.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "core/protocol/trace.h"
#include "model/safe_file.h"
#include "model/settings.h"
#include "small_tmpfs.h"
#include "test_util.h"

namespace vir05 {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedTempDir;
using test::WriteFile;

// What a test can plant at a name. A device node needs root; it is left out elsewhere.
enum class Plant { Fifo, Device, EmptyDir, EmptyDirSlash };

bool PlantNode(Plant p, const std::string& name) {
    switch (p) {
        case Plant::Fifo:
            return mkfifo(name.c_str(), 0666) == 0;
        case Plant::Device:  // the system's null device, as a node of its own
            return mknod(name.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        case Plant::EmptyDir:
        case Plant::EmptyDirSlash:
            return fs::create_directory(name);
    }
    return false;
}

TEST(SafeFiles, OnlyRegularFilesAndLinksAreDeletedOrReplaced) {
    const struct {
        const char* name;
        Plant plant;
    } cases[] = {
        {"fifo", Plant::Fifo},
        {"device node", Plant::Device},
        {"empty directory", Plant::EmptyDir},
        {"empty directory named with a slash", Plant::EmptyDirSlash},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempDir dir;
        if (!PlantNode(c.plant, "out")) {
            ASSERT_EQ(c.plant, Plant::Device) << "cannot plant the node";
            continue;  // no right to make device nodes here
        }
        const std::string name = c.plant == Plant::EmptyDirSlash ? "out/" : "out";
        EXPECT_FALSE(Replaceable(ClassifyNode(name)));
        EXPECT_FALSE(RemoveIfReplaceable(name));
        std::string error;
        EXPECT_FALSE(ReplaceFileWith(name, "text", error));
        EXPECT_EQ(error, "это не обычный файл");
        std::FILE* f = CreateForWriting(name, error);
        EXPECT_EQ(f, nullptr);
        if (f) std::fclose(f);
        EXPECT_TRUE(fs::exists(fs::symlink_status("out")));
        EXPECT_NE(fs::symlink_status("out").type(), fs::file_type::regular);
    }

    // A regular file and a link are deleted; the link's target stays.
    ScopedTempDir dir;
    WriteFile("victim", "victim");
    WriteFile("plain", "plain");
    fs::create_symlink("victim", "link");
    EXPECT_TRUE(RemoveIfReplaceable("plain"));
    EXPECT_TRUE(RemoveIfReplaceable("link"));
    EXPECT_TRUE(RemoveIfReplaceable("never-there"));
    EXPECT_FALSE(fs::exists(fs::symlink_status("plain")));
    EXPECT_FALSE(fs::exists(fs::symlink_status("link")));
    EXPECT_EQ(ReadFile("victim"), "victim");
}

TEST(SafeFiles, PlantedLinksAreReplacedNeverFollowed) {
    ScopedTempDir dir;
    WriteFile("victim", "victim");
    fs::create_symlink("victim", "whole");
    fs::create_symlink("victim", "stream");
    fs::create_symlink("nowhere", "dangling");
    fs::create_symlink("victim", "test.txt");
    {
        TraceLog trace("test.txt");
        EXPECT_TRUE(trace.Enabled());
    }
    EXPECT_EQ(ReadFile("test.txt"), "start");
    std::string error;
    ASSERT_TRUE(ReplaceFileWith("whole", "new", error)) << error;
    std::FILE* f = CreateForWriting("stream", error);
    ASSERT_NE(f, nullptr) << error;
    std::fputs("streamed", f);
    std::fclose(f);
    f = CreateForWriting("dangling", error);
    ASSERT_NE(f, nullptr) << error;
    std::fclose(f);
    EXPECT_EQ(ReadFile("victim"), "victim");
    for (const char* name : {"whole", "stream", "dangling", "test.txt"})
        EXPECT_EQ(fs::symlink_status(name).type(), fs::file_type::regular) << name;
    EXPECT_EQ(ReadFile("whole"), "new");
    EXPECT_EQ(ReadFile("stream"), "streamed");
    EXPECT_FALSE(fs::exists("nowhere"));
}

TEST(SafeFiles, FifosAreRefusedWithoutWaiting) {
    ScopedTempDir dir;
    ASSERT_EQ(mkfifo("fifo", 0666), 0);
    std::string error;
    // Nobody writes: reading must not wait for a writer.
    EXPECT_EQ(OpenRegularForReading("fifo", error), nullptr);
    EXPECT_EQ(error, "это не обычный файл");
    // Nobody reads: writing must not wait for a reader. With a reader: still nothing goes in.
    EXPECT_EQ(CreateForWriting("fifo", error), nullptr);
    const int reader = open("fifo", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(CreateForWriting("fifo", error), nullptr);
    {
        TraceLog trace("fifo");
        EXPECT_FALSE(trace.Enabled());
        trace.Sent(0x55);
    }
    char buffer[16];
    EXPECT_LE(read(reader, buffer, sizeof buffer), 0);
    close(reader);
}

TEST(SafeFiles, FullOrReadOnlyDiskLeavesNoFileAndSaysWhy) {
    test::SmallTmpfs disk(64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
    std::string error;
    ASSERT_TRUE(ReplaceFileWith(disk.File("out.txt"), "old output", error)) << error;
    const std::string big(200 * 1024, 'x');
    EXPECT_FALSE(ReplaceFileWith(disk.File("out.txt"), big, error));
    EXPECT_EQ(error, "нет места на диске");
    EXPECT_EQ(ReadFile(disk.File("out.txt")), "old output");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.Path()), {}), 1);  // no temporary left

    ASSERT_TRUE(disk.MakeReadOnly());
    EXPECT_FALSE(ReplaceFileWith(disk.File("out.txt"), "new", error));
    EXPECT_EQ(error, "файловая система только для чтения");
    EXPECT_EQ(ReadFile(disk.File("out.txt")), "old output");
}

TEST(SafeFiles, ConcurrentWritersEachLeaveAWholeFile) {
    // Two writers replace one name over and over while a reader looks: whatever it sees is one
    // writer's whole text, never a mix, never a cut one.
    ScopedTempDir dir;
    const std::string a(300 * 1024, 'a');
    const std::string b(200 * 1024, 'b');
    std::string error;
    ASSERT_TRUE(ReplaceFileWith("out.txt", a, error));
    std::atomic<int> failures{0};
    auto writer = [&](const std::string& text) {
        std::string e;
        for (int i = 0; i < 40; ++i)
            if (!ReplaceFileWith("out.txt", text, e)) ++failures;
    };
    std::thread wa(writer, std::cref(a));
    std::thread wb(writer, std::cref(b));
    int mixed = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string seen = ReadFile("out.txt");
        if (seen != a && seen != b) ++mixed;
    }
    wa.join();
    wb.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mixed, 0);
    const std::string last = ReadFile("out.txt");
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
}

TEST(SafeFiles, SameFileIsFoundThroughOtherSpellingsAndLinks) {
    ScopedTempDir dir;
    WriteFile("x.vi5", "data");
    fs::create_symlink("x.vi5", "link.vi5");
    fs::create_directory("sub");
    EXPECT_TRUE(SameExistingFile("x.vi5", "./x.vi5"));
    EXPECT_TRUE(SameExistingFile("x.vi5", "sub/../x.vi5"));
    EXPECT_TRUE(SameExistingFile("link.vi5", "x.vi5"));
    EXPECT_FALSE(SameExistingFile("x.vi5", "missing.vi5"));
    EXPECT_FALSE(SameExistingFile("", "x.vi5"));
}

TEST(SafeFiles, OversizedOrSpecialSettingsFilesGiveDefaultsAndAreNotOverwritten) {
    ScopedTempDir dir;
    const std::string programDir = dir.path().string() + "/";
    // A file of empty lines beyond the limit: not read into memory, not replaced by a save.
    const std::string huge(kSettingsMaxBytes + 1, '\n');
    WriteFile("vir05.ini", "[Setting]\nNextSerial=7\n" + huge);
    EXPECT_EQ(LoadWorkSettings(programDir).nextSerial, "500002");
    EXPECT_FALSE(StoreSetting(programDir, "WorkDir", "/tmp/"));
    EXPECT_EQ(fs::file_size("vir05.ini"), huge.size() + 23);

    // A FIFO: no waiting for a writer or a reader, defaults, nothing written.
    fs::remove("vir05.ini");
    ASSERT_EQ(mkfifo("vir05.ini", 0666), 0);
    EXPECT_EQ(LoadWorkSettings(programDir).nextSerial, "500002");
    EXPECT_FALSE(StoreSetting(programDir, "WorkDir", "/tmp/"));
    EXPECT_EQ(fs::symlink_status("vir05.ini").type(), fs::file_type::fifo);

    // Just within the limit, the file is read as ever.
    fs::remove("vir05.ini");
    const std::string head = "[Setting]\nNextSerial=7\n";
    WriteFile("vir05.ini", head + std::string(kSettingsMaxBytes - head.size(), '\n'));
    EXPECT_EQ(LoadWorkSettings(programDir).nextSerial, "7");
}

TEST(TraceLimit, TheTraceEndsWithinItsLimitAndSaysItWasCut) {
    ScopedTempDir dir;
    {
        TraceLog trace("test.txt", 400);
        for (int i = 0; i < 1000; ++i)
            trace.Received(static_cast<std::uint8_t>(i));
    }
    const std::string text = ReadFile("test.txt");
    EXPECT_LE(text.size(), 400u);
    const auto lines = test::SplitCrlf(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "start i   0  00  ");
    EXPECT_EQ(lines.back(), kTraceCutText);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace vir05
