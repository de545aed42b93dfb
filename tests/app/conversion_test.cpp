// The conversion run of the program, started as a scheduler would start it: no display.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "../core/test_util.h"
#include "core/text_output.h"
#include "model/datafile.h"
#include "process.h"
#include "sim/generator.h"

namespace vir05 {
namespace {

using test::ProcessResult;
using test::ReadFile;
using test::RunProgram;
using test::ScopedTempDir;

class ConversionRun : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::GeneratorOptions o;
        o.seed = 3;
        sim::GenerateContents(o, areas_.DeviceImage(), areas_.ArchiveImage());
        std::memcpy(areas_.ConfigShadow(), areas_.DeviceImage(), kImageSize);
        ASSERT_TRUE(SaveDataFile(dir_.File("500001.vi5"), areas_));
    }
    std::string Expected() {
        const ImageSnapshot snap = TakeSnapshot(areas_.DeviceImage());
        const TextOutputSource src{snap, areas_.DeviceImage(), areas_.ArchiveImage(),
                                   PanelTimeText(areas_.DeviceImage())};
        static ArchiveOrder order;
        std::string out;
        AppendTextOutput(out, src, order);
        return out;
    }
    ProcessResult Run(const std::vector<std::string>& args) {
        return RunProgram(VIR05WIN_PATH, args, dir_.path().string());
    }
    ScopedTempDir dir_;
    static inline MemoryAreas areas_;
};

TEST_F(ConversionRun, WritesTheTextOutputAndExitsZeroWithoutADisplay) {
    test::WriteFile(dir_.File("def.txt"), "stale");
    const ProcessResult r = Run({"-z500001.vi5"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    const std::string out = ReadFile(dir_.File("def.txt"));
    EXPECT_EQ(out, Expected());
    EXPECT_NE(out.find("RecType=H"), std::string::npos);
    EXPECT_NE(out.find("RecType=D"), std::string::npos);
    EXPECT_EQ(ReadFile(dir_.File("def.txt.log")), "log start\r\nlog begin\r\nlog end done\r\n");
}

TEST_F(ConversionRun, OutputNameIsUsedInLowerCase) {
    const ProcessResult r = Run({"-Z500001.vi5", "-oPOLL.TXT"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir_.File("poll.txt")), Expected());
    EXPECT_TRUE(std::filesystem::exists(dir_.File("poll.txt.log")));
}

TEST_F(ConversionRun, DataFileAfterARunOptionIsConverted) {
    const ProcessResult r = Run({"-r", "500001.vi5"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir_.File("def.txt")), Expected());
}

// A data file on the line is converted under the output name given before it; a name given
// after it comes too late.
TEST_F(ConversionRun, DataFileTakesTheOutputNameGivenBeforeIt) {
    const ProcessResult r = Run({"-r", "500001.vi5", "-oout2.txt"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir_.File("def.txt")), Expected());
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out2.txt")));
    const ProcessResult named = Run({"-r", "-ofirst.txt", "500001.vi5"});
    ASSERT_TRUE(named.exited);
    EXPECT_EQ(ReadFile(dir_.File("first.txt")), Expected());
}

// Every start begins a fresh byte trace, also a start that ends before any line is opened.
TEST_F(ConversionRun, EveryStartEmptiesTheTrace) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {"a conversion", {"-z500001.vi5"}, 0},
        {"a data file after a run option", {"-r", "500001.vi5"}, 0},
        {"a start without a display", {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile(dir_.File("test.txt"), "start out        85  55  U\r\n");
        const ProcessResult r = Run(c.args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(ReadFile(dir_.File("test.txt")), "start");
    }
}

TEST_F(ConversionRun, MissingOrEmptyFileFails) {
    test::WriteFile(dir_.File("def.txt"), "stale");
    ProcessResult r = Run({"-znot-there.vi5"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("def.txt")));  // no old output left for it
    // The log says how the run ended.
    EXPECT_EQ(ReadFile(dir_.File("def.txt.log")),
              "log start\r\nlog begin\r\n(error!) not-there.vi5 ошибка открытия файла \r\n"
              "log end error\r\n");

    // An empty file is not an error: it converts as an image of zeros.
    test::WriteFile(dir_.File("empty.vi5"), "");
    r = Run({"-zempty.vi5"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir_.File("def.txt")).rfind("[0]\r\nDate=00.00.00\r\n", 0), 0u);
}

}  // namespace
}  // namespace vir05
