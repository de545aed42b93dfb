// The program run as a hostile line, a hostile file and a careless scheduler would run it: every
// run ends, exits 1 when its text output was not written whole, says why on standard error and
// in its run log, never deletes or overwrites what it reads or what is not a plain file, never
// follows a planted link, and keeps the trace within its limit.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "../core/small_tmpfs.h"
#include "../core/test_util.h"
#include "../sim_controller.h"
#include "core/protocol/trace.h"
#include "core/text_output.h"
#include "model/datafile.h"
#include "process.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/lines.h"

namespace vir05 {
namespace {

namespace fs = std::filesystem;
using test::ProcessResult;
using test::ReadFile;
using test::ScopedTempDir;

// Two saved readings and the text outputs they convert to.
class HostileFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (int i = 0; i < 2; ++i) {
            static MemoryAreas areas;
            sim::GeneratorOptions o;
            o.seed = static_cast<std::uint32_t>(3 + i);
            o.serial = 500001 + i;
            sim::GenerateContents(o, areas.DeviceImage(), areas.ArchiveImage());
            std::memcpy(areas.ConfigShadow(), areas.DeviceImage(), kImageSize);
            std::string bytes(reinterpret_cast<const char*>(areas.block.data()), 4096);
            bytes.append(reinterpret_cast<const char*>(areas.ArchiveImage()), kArchiveSize);
            files_[i] = bytes;
            const ImageSnapshot snap = TakeSnapshot(areas.DeviceImage());
            const TextOutputSource src{snap, areas.DeviceImage(), areas.ArchiveImage(),
                                       PanelTimeText(areas.DeviceImage())};
            static ArchiveOrder order;
            AppendTextOutput(outputs_[i], src, order);
        }
    }
    void SetUp() override {
        test::WriteFile(dir_.File("a.vi5"), files_[0]);
        test::WriteFile(dir_.File("b.vi5"), files_[1]);
    }
    ProcessResult Run(const std::vector<std::string>& args) {
        return test::RunProgram(VIR05WIN_PATH, args, dir_.path().string(),
                                std::chrono::seconds(120), dir_.File("stderr.txt"));
    }
    std::string Stderr() const { return ReadFile(dir_.File("stderr.txt")); }

    ScopedTempDir dir_;
    static inline std::string files_[2];
    static inline std::string outputs_[2];
};

TEST_F(HostileFiles, AConversionThatCannotWriteItsOutputFailsAndSaysWhy) {
    test::WriteFile(dir_.File("a-file"), "");
    const struct {
        const char* name;
        std::string output;
    } cases[] = {
        {"missing directory", "no-dir/out.txt"},
        {"a file where a directory should be", "a-file/out.txt"},
        {"name too long", std::string(300, 'n') + ".txt"},
        {"a directory of the system that takes no files", "/proc/vir05-out.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = Run({"-za.vi5", "-o" + c.output});
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Stderr().find("невозможно записать файл"), std::string::npos) << Stderr();
        std::error_code ec;
        EXPECT_FALSE(fs::exists(dir_.File(c.output), ec));
    }
}

TEST_F(HostileFiles, AFullOrReadOnlyDiskLeavesNoOutputAndExitsOne) {
    // Room for the run log but not for the text output (818 KB).
    test::SmallTmpfs full(64 * 1024);
    if (!full.Mounted()) GTEST_SKIP() << full.Reason();
    test::WriteFile(full.File("def.txt"), "stale");
    ProcessResult r = Run({"-za.vi5", "-o" + full.File("def.txt")});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("нет места на диске"), std::string::npos) << Stderr();
    EXPECT_FALSE(fs::exists(full.File("def.txt")));  // neither stale nor cut
    const std::string log = ReadFile(full.File("def.txt.log"));
    EXPECT_NE(log.find("(error!) " + full.File("def.txt") + ": нет места на диске\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.substr(log.size() - 15), "log end error\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(full.Path()), {}), 1);  // the log alone

    test::SmallTmpfs readOnly(64 * 1024);
    ASSERT_TRUE(readOnly.Mounted());
    ASSERT_TRUE(readOnly.MakeReadOnly());
    r = Run({"-za.vi5", "-o" + readOnly.File("def.txt")});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("файловая система только для чтения"), std::string::npos) << Stderr();
}

TEST_F(HostileFiles, TheInputIsNeverDeletedOrOverwritten) {
    test::WriteFile(dir_.File("x.vi5"), files_[0]);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-zx.vi5", "-ox.vi5"},
          std::vector<std::string>{"-zx.vi5", "-oX.VI5"},
          std::vector<std::string>{"-r", "x.vi5", "-ox.vi5"}}) {
        SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
        const ProcessResult r = Run(args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Stderr().find("совпадает с входным файлом x.vi5"), std::string::npos) << Stderr();
        EXPECT_EQ(ReadFile(dir_.File("x.vi5")), files_[0]);
    }
}

TEST_F(HostileFiles, WhatIsNotAPlainFileIsNeverDeletedOrWritten) {
    ASSERT_EQ(mkfifo(dir_.File("fifo").c_str(), 0666), 0);
    fs::create_directory(dir_.File("empty-dir"));
    // A node of the system's null device, when this machine lets us make one.
    const bool device = mknod(dir_.File("null-node").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::vector<std::string> names = {"fifo", "empty-dir", "empty-dir/"};
    if (device) names.push_back("null-node");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const ProcessResult r = Run({"-za.vi5", "-o" + name});
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Stderr().find("не является обычным файлом"), std::string::npos) << Stderr();
    }
    EXPECT_TRUE(fs::is_fifo(dir_.File("fifo")));
    EXPECT_TRUE(fs::is_directory(dir_.File("empty-dir")));
    if (device) {
        EXPECT_TRUE(fs::is_character_file(dir_.File("null-node")));
    }
}

TEST_F(HostileFiles, AFifoToConvertIsRefusedAtOnce) {
    // Nobody will ever write into it: the run must not wait for a writer.
    ASSERT_EQ(mkfifo(dir_.File("never.vi5").c_str(), 0666), 0);
    const ProcessResult r = Run({"-znever.vi5"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("never.vi5 ошибка открытия файла"), std::string::npos) << Stderr();
    EXPECT_EQ(ReadFile(dir_.File("def.txt.log")),
              "log start\r\nlog begin\r\n(error!) never.vi5 ошибка открытия файла \r\n"
              "log end error\r\n");
}

TEST_F(HostileFiles, ConcurrentRunsEachLeaveOneWholeOutput) {
    // Two scheduled conversions with the same output name, again and again: the file is always
    // one run's whole output.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const pid_t a = test::StartProgram(VIR05WIN_PATH, {"-za.vi5"}, dir_.path().string());
        const pid_t b = test::StartProgram(VIR05WIN_PATH, {"-zb.vi5"}, dir_.path().string());
        const ProcessResult ra = test::WaitProgram(a);
        const ProcessResult rb = test::WaitProgram(b);
        ASSERT_TRUE(ra.exited && rb.exited);
        EXPECT_EQ(ra.exitCode, 0);
        EXPECT_EQ(rb.exitCode, 0);
        const std::string out = ReadFile(dir_.File("def.txt"));
        EXPECT_TRUE(out == outputs_[0] || out == outputs_[1]) << out.size() << " bytes";
    }
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        EXPECT_NE(entry.path().extension(), ".part") << "a temporary file left behind";
}

// Runs against the simulated controller over TCP.
class HostileLine : public HostileFiles {
  protected:
    void SetUp() override {
        HostileFiles::SetUp();
        tcp_ = std::make_unique<sim::TcpServer>(controller_, faults_, 0);
        std::string error;
        ASSERT_TRUE(tcp_->Start(error)) << error;
    }
    void TearDown() override { tcp_.reset(); }
    std::string Port() const { return "-sp" + std::to_string(tcp_->Port()); }

    test::SimController sim_{test::SimController::Serial500042(21)};
    sim::Controller& controller_ = sim_.controller;
    sim::FaultInjector& faults_ = sim_.faults;
    std::unique_ptr<std::uint8_t[]>& image_ = sim_.image;
    std::unique_ptr<std::uint8_t[]>& archive_ = sim_.archive;
    std::unique_ptr<sim::TcpServer> tcp_;
};

TEST_F(HostileLine, ABabblingControllerEndsTheRunWithAReasonAndABoundedTrace) {
    sim::FaultRule flood;
    flood.kind = sim::FaultKind::Flood;
    flood.every = 2;  // the image read is answered; the first archive block floods
    faults_.Set(flood);
    const ProcessResult r = Run({"-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("Ошибка: "), std::string::npos) << Stderr();
    EXPECT_FALSE(fs::exists(dir_.File("def.txt")));
    EXPECT_FALSE(fs::exists(dir_.File("500042.vi5")));
    EXPECT_LE(fs::file_size(dir_.File("test.txt")), kTraceLimitBytes);
    const std::string log = ReadFile(dir_.File("def.txt.log"));
    EXPECT_EQ(log.rfind("log start\r\nlog begin\r\n(error!) Ошибка: ", 0), 0u) << log;
    EXPECT_EQ(log.substr(log.size() - 15), "log end error\r\n");
}

TEST_F(HostileLine, AReadWhoseOutputCannotBeWrittenExitsOne) {
    // The controller answers; the text output has nowhere to go.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"-r"}, std::vector<std::string>{"-xh1000"}}) {
        SCOPED_TRACE(command[0]);
        std::vector<std::string> args = {"-si127.0.0.1", Port(), "-n1", "-ono-dir/out.txt"};
        args.insert(args.begin(), command.begin(), command.end());
        const ProcessResult r = Run(args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Stderr().find("невозможно записать файл no-dir/out.txt"), std::string::npos)
            << Stderr();
    }
}

TEST_F(HostileLine, OutOfRangeAddressesAndPortsSendNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-n257"}, std::vector<std::string>{"-n-255"},
          std::vector<std::string>{"-sp70000"}}) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> full = {"-si127.0.0.1", Port()};
        full.insert(full.end(), args.begin(), args.end());
        const ProcessResult r = Run(full);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(Stderr().find(args[0] + ": "), std::string::npos) << Stderr();
        EXPECT_TRUE(controller_.ReceivedFrames().empty());
    }
}

TEST_F(HostileLine, PlantedLinksAndFifosInTheWorkingDirectoryAreNotFollowed) {
    // Links where the run writes its output, log, data file and trace, pointing at files the
    // user can write: a successful run leaves every one of them as it was.
    for (const char* name : {"def.txt", "def.txt.log", "500042.vi5", "test.txt"}) {
        const std::string victim = dir_.File(std::string("victim-") + name);
        test::WriteFile(victim, "precious");
        fs::create_symlink(victim, dir_.File(name));
    }
    ProcessResult r = Run({"-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0) << Stderr();
    for (const char* name : {"def.txt", "def.txt.log", "500042.vi5", "test.txt"}) {
        EXPECT_EQ(ReadFile(dir_.File(std::string("victim-") + name)), "precious") << name;
        EXPECT_EQ(fs::symlink_status(dir_.File(name)).type(), fs::file_type::regular) << name;
    }
    EXPECT_EQ(ReadFile(dir_.File("def.txt.log")), "log start\r\nlog begin\r\nlog end done\r\n");

    // A FIFO as the trace: the run goes on without a trace rather than wait for a reader.
    fs::remove(dir_.File("test.txt"));
    ASSERT_EQ(mkfifo(dir_.File("test.txt").c_str(), 0666), 0);
    r = Run({"-r", "-si127.0.0.1", Port(), "-n1"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0) << Stderr();
    EXPECT_TRUE(fs::is_fifo(dir_.File("test.txt")));
}

TEST_F(HostileLine, AFifoAsTheSettingsFileDoesNotHoldASerialRunUp) {
    const auto copy = dir_.path() / "bin" / "vir05win";
    fs::create_directories(copy.parent_path());
    fs::copy_file(VIR05WIN_PATH, copy);
    ASSERT_EQ(mkfifo((copy.parent_path() / "vir05.ini").c_str(), 0666), 0);
    // Without its settings COM99 has no mapping; it names a device this machine lacks.
    const ProcessResult r =
        test::RunProgram(copy.string(), {"-r", "-p99", "-n1"}, dir_.path().string(),
                         std::chrono::seconds(120), dir_.File("stderr.txt"));
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Stderr().find("Невозможно открыть COM99"), std::string::npos) << Stderr();
    EXPECT_TRUE(fs::is_fifo(copy.parent_path() / "vir05.ini"));
}

}  // namespace
}  // namespace vir05
