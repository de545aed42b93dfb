// The command line of an unattended run and its start-up steps.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/cli_run.h"
#include "core/cmdline.h"
#include "model/bytes.h"
#include "model/datafile.h"
#include "test_util.h"

namespace vir05 {
namespace {

using test::ReadFile;
using test::ScopedTempDir;

TEST(CommandLineParse, DefaultsWithNoParameters) {
    const CommandLine cl = ParseCommandLine({});
    EXPECT_EQ(cl.outputName, "def.txt");
    EXPECT_EQ(cl.PortName(), "COM1");
    EXPECT_EQ(cl.baudRate, 9600);
    EXPECT_EQ(cl.NetAddress(), 0);
    EXPECT_EQ(cl.tcpPort, 10001);
    EXPECT_EQ(cl.archiveSlots, 0);
    EXPECT_EQ(cl.commandLineRun, 0);
    EXPECT_EQ(cl.Command(), kCmdReadArchive);
}

TEST(CommandLineParse, OptionsValuesAndRunFlags) {
    struct Case {
        std::vector<std::string> args;
        int run;
        int command;
    } cases[] = {
        {{"-r"}, kRunHidden, kCmdReadCurrent},
        {{"-R"}, kRunHidden, kCmdReadCurrent},
        {{"-si192.168.0.1", "-n3"}, kRunHidden, kCmdReadArchive},
        {{"-p3", "-n7", "-st"}, kRunHidden, kCmdSetClock},
        {{"-st", "-r"}, kRunHidden, kCmdSetClock},  // the clock wins over -r
        {{"-p2", "-n5"}, 0, kCmdReadArchive},       // no run option: a normal start
        {{"-md5551234"}, kRunHidden, kCmdReadArchive},
        {{"-mr9600"}, kRunHidden, kCmdReadArchive},
        {{"-sp10002"}, kRunHidden, kCmdReadArchive},
        {{"-zfile.vi5"}, kRunConvert, kCmdReadArchive},
        {{"-zfile.vi5", "-r"}, kRunConvert | kRunHidden, kCmdReadCurrent},
        {{"-show", "-r"}, kRunShow, kCmdReadCurrent},
        {{"-r", "-SHOW"}, kRunShow, kCmdReadCurrent},
        {{"-", "-q", "-x5", "-m", "-s", "plain", ""}, 0, kCmdReadArchive},  // no effect
    };
    for (const Case& c : cases) {
        const CommandLine cl = ParseCommandLine(c.args);
        EXPECT_EQ(cl.commandLineRun, c.run) << c.args[0];
        EXPECT_EQ(cl.Command(), c.command) << c.args[0];
    }
}

TEST(CommandLineParse, ValuesLastOneWinsAndBadNumbersGiveTheirDefaults) {
    CommandLine cl = ParseCommandLine(
        {"-p3", "-p12", "-b115200", "-n7", "-n8", "-xh1000", "-sp10010", "-siHost.Example"});
    EXPECT_EQ(cl.PortName(), "COM12");
    EXPECT_EQ(cl.baudRate, 115200);
    EXPECT_EQ(cl.NetAddress(), 8);
    EXPECT_EQ(cl.archiveSlots, 1000);
    EXPECT_EQ(cl.tcpPort, 10010);
    EXPECT_EQ(cl.host, "host.example");  // values arrive in lower case

    cl = ParseCommandLine({"-pX", "-bfast", "-nabc", "-xhmany", "-spnone", "-p", "-b"});
    EXPECT_EQ(cl.comPort, 1);
    EXPECT_EQ(cl.baudRate, 9600);
    EXPECT_EQ(cl.NetAddress(), 0);
    EXPECT_EQ(cl.archiveSlots, 0);
    EXPECT_EQ(cl.tcpPort, 1);
}

TEST(CommandLineParse, FileNames) {
    CommandLine cl = ParseCommandLine({"-oOUT.TXT"});
    EXPECT_EQ(cl.outputName, "out.txt");
    // A directory keeps its case on a case-sensitive file system; the name is lower-cased.
    cl = ParseCommandLine({"-o/Data/Poll/OUT.TXT", "-z/Data/Saved/A.vi5"});
    EXPECT_EQ(cl.outputName, "/Data/Poll/out.txt");
    EXPECT_EQ(cl.convertFile, "/Data/Saved/A.vi5");
    cl = ParseCommandLine({"-o"});
    EXPECT_EQ(cl.outputName, "");
    // Data files need ".vi5" exactly; their place on the line decides what opening them does.
    cl = ParseCommandLine({"a.vi5", "-r", "b.vi5.bak", "c.VI5", "d.txt"});
    ASSERT_EQ(cl.dataFiles.size(), 2u);
    EXPECT_EQ(cl.dataFiles[0].name, "a.vi5");
    EXPECT_EQ(cl.dataFiles[0].runAtArg, 0);
    EXPECT_EQ(cl.dataFiles[1].name, "b.vi5.bak");
    EXPECT_EQ(cl.dataFiles[1].runAtArg, kRunHidden);
}

class CommandLineStartup : public ::testing::Test {
  protected:
    void SaveSample(const std::string& name) {
        static MemoryAreas a;
        a.block.fill(0);
        a.DeviceImage()[addr::NumSystems] = 1;
        PutI32(a.DeviceImage(), addr::DevNumber, 500077);
        ASSERT_TRUE(SaveDataFile(name, a));
    }
    ScopedTempDir dir_;
    static inline MemoryAreas areas_;
};

TEST_F(CommandLineStartup, EveryStartDeletesTheOldOutputAndWritesAFreshLog) {
    test::WriteFile("def.txt", "stale");
    test::WriteFile("def.txt.log", "stale log");
    CommandLine cl = ParseCommandLine({"-p2", "-n5"});
    RunLog log;
    const StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::StartNormally);
    EXPECT_FALSE(std::filesystem::exists("def.txt"));
    EXPECT_TRUE(log.IsOpen());
    log.Close();
    EXPECT_EQ(ReadFile("def.txt.log"), "log start\r\nlog begin\r\n");
}

TEST_F(CommandLineStartup, EmptyOutputNameStartsNothing) {
    test::WriteFile("def.txt", "stale");
    CommandLine cl = ParseCommandLine({"-r", "-o"});
    RunLog log;
    const StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::StartNormally);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(std::filesystem::exists("def.txt"));
    EXPECT_FALSE(std::filesystem::exists(".log"));
}

TEST_F(CommandLineStartup, ConversionWritesTheOutputAndEnds) {
    SaveSample("saved.vi5");
    CommandLine cl = ParseCommandLine({"-zsaved.vi5", "-oconv.txt"});
    RunLog log;
    const StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::Exit);
    EXPECT_EQ(out.exitCode, 0);
    const std::string text = ReadFile("conv.txt");
    EXPECT_EQ(
        text.rfind("[0]\r\nDate=00.00.00\r\nTime=00:00:00\r\nNumSystems=1\r\nDevNumber=500077\r\n",
                   0),
        0u);
    EXPECT_EQ(ReadFile("conv.txt.log"), "log start\r\nlog begin\r\nlog end done\r\n");
}

TEST_F(CommandLineStartup, ConversionOfAMissingFileFails) {
    CommandLine cl = ParseCommandLine({"-zmissing.vi5"});
    RunLog log;
    const StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::Exit);
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_EQ(out.caption, "missing.vi5 ошибка открытия файла ");
    EXPECT_FALSE(std::filesystem::exists("def.txt"));
}

TEST_F(CommandLineStartup, RunsThatCannotGoAsAskedEndBeforeTouchingAnything) {
    // A typo in an address or port must not reach another controller; a run must not delete or
    // overwrite what it reads, nor anything that is not a plain file.
    const struct {
        std::vector<std::string> args;
        const char* said;  // in the caption
    } cases[] = {
        {{"-r", "-n257"}, "-n257: сетевой адрес вне диапазона 0..255"},
        {{"-r", "-n-255"}, "-n-255: сетевой адрес вне диапазона 0..255"},
        {{"-r", "-n99999999999"}, "-n99999999999: сетевой адрес"},
        {{"-si127.0.0.1", "-sp70000"}, "-sp70000: порт TCP вне диапазона 1..65535"},
        {{"-si127.0.0.1", "-sp0"}, "-sp0: порт TCP"},
        {{"-show", "-si127.0.0.1", "-n300"}, "-n300: сетевой адрес"},
        {{"-zin.vi5", "-oin.vi5"}, "выходной файл in.vi5 совпадает с входным файлом in.vi5"},
        {{"-zin.vi5", "-oIN.VI5"}, "совпадает с входным файлом in.vi5"},
        {{"-zin.vi5", "-o./in.vi5"}, "совпадает с входным файлом in.vi5"},
        {{"-zrun.log", "-orun"}, "выходной файл run.log совпадает с входным файлом run.log"},
        {{"-r", "in.vi5", "-oin.vi5"}, "совпадает с входным файлом in.vi5"},
        {{"-r", "-oempty-dir"}, "выходной файл empty-dir не является обычным файлом"},
        {{"-r", "-oempty-dir/"}, "выходной файл empty-dir/ не является обычным файлом"},
        {{"-r", "-ofifo"}, "выходной файл fifo не является обычным файлом"},
    };
    SaveSample("in.vi5");
    SaveSample("run.log");
    const std::string input = ReadFile("in.vi5");
    std::filesystem::create_directory("empty-dir");
    ASSERT_EQ(mkfifo("fifo", 0666), 0);
    test::WriteFile("def.txt.log", "log start\r\nlog begin\r\nlog end done\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        CommandLine cl = ParseCommandLine(c.args);
        RunLog log;
        const StartupOutcome out = ProcessCommandLine(cl, areas_, log);
        EXPECT_EQ(out.kind, StartupOutcome::Exit);
        EXPECT_EQ(out.exitCode, 1);
        EXPECT_NE(out.caption.find(c.said), std::string::npos) << out.caption;
        EXPECT_EQ(out.caption.rfind("Ошибка: ", 0), 0u);
        EXPECT_EQ(ReadFile("in.vi5"), input);
        EXPECT_EQ(ReadFile("run.log"), input);
        EXPECT_TRUE(std::filesystem::is_directory("empty-dir"));
        EXPECT_TRUE(std::filesystem::is_fifo("fifo"));
    }

    // The edges of the ranges, and text that is no number (it keeps its default), still run.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-r", "-n255"}, {"-r", "-n0"}, {"-r", "-nabc"}, {"-si127.0.0.1", "-sp65535"}}) {
        SCOPED_TRACE(args[1]);
        CommandLine cl = ParseCommandLine(args);
        RunLog log;
        EXPECT_EQ(ProcessCommandLine(cl, areas_, log).kind, StartupOutcome::StartCommand);
    }
}

TEST_F(CommandLineStartup, TheLogOfEveryRunSaysHowItEnded) {
    SaveSample("a.vi5");
    // A conversion from a data-file argument starts a fresh log, not the last run's.
    test::WriteFile("def.txt.log", "log of an earlier run\r\n");
    CommandLine cl = ParseCommandLine({"-r", "a.vi5"});
    RunLog log;
    StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(ReadFile("def.txt.log"), "log start\r\nlog begin\r\nlog end done\r\n");

    // A failed conversion says so.
    cl = ParseCommandLine({"-zmissing.vi5"});
    out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_EQ(ReadFile("def.txt.log"),
              "log start\r\nlog begin\r\n(error!) missing.vi5 ошибка открытия файла \r\n"
              "log end error\r\n");

    // A conversion whose text output cannot be written fails, and says why.
    cl = ParseCommandLine({"-za.vi5", "-ono-dir/out.txt"});
    out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_EQ(out.caption,
              "Ошибка: невозможно записать файл no-dir/out.txt: нет такого файла или каталога");
}

TEST_F(CommandLineStartup, DataFileArgument) {
    SaveSample("a.vi5");
    // Named before any run option: opened for the window.
    CommandLine cl = ParseCommandLine({"\"a.vi5\""});
    RunLog log;
    StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::StartNormally);
    EXPECT_TRUE(out.openedFile);
    EXPECT_EQ(out.caption, "a.vi5");
    EXPECT_EQ(I32(areas_.DeviceImage(), addr::DevNumber), 500077);
    log.Close();
    // Named after a run option: converted, and the run ends there.
    cl = ParseCommandLine({"-r", "a.vi5"});
    out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::Exit);
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists("def.txt"));
}

TEST_F(CommandLineStartup, HiddenAndShownRuns) {
    CommandLine cl = ParseCommandLine({"-r"});
    RunLog log;
    StartupOutcome out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::StartCommand);
    EXPECT_TRUE(out.hidden);
    EXPECT_EQ(out.command, kCmdReadCurrent);
    log.Close();

    cl = ParseCommandLine({"-si127.0.0.1", "-show"});
    out = ProcessCommandLine(cl, areas_, log);
    EXPECT_EQ(out.kind, StartupOutcome::StartCommand);
    EXPECT_FALSE(out.hidden);
    EXPECT_EQ(cl.commandLineRun, 0);  // the program stays open after the command
    EXPECT_EQ(out.command, kCmdReadArchive);
}

}  // namespace
}  // namespace vir05
