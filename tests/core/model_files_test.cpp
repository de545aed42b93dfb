// The data file and the settings file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "model/datafile.h"
#include "model/ports.h"
#include "model/settings.h"
#include "small_tmpfs.h"
#include "test_util.h"

namespace vir05 {
namespace {

using test::ReadFile;
using test::ScopedTempDir;
using test::WriteFile;

void FillPattern(MemoryAreas& a, std::uint8_t seed) {
    for (std::size_t i = 0; i < a.block.size(); ++i)
        a.block[i] = static_cast<std::uint8_t>(i * 7 + seed);
}

TEST(ModelDataFile, SaveWritesBothBlocks) {
    ScopedTempDir dir;
    static MemoryAreas a;
    FillPattern(a, 1);
    ASSERT_TRUE(SaveDataFile("x.vi5", a));
    const std::string f = ReadFile("x.vi5");
    ASSERT_EQ(f.size(), 135168u);
    EXPECT_EQ(0, std::memcmp(f.data(), a.DeviceImage(), 1955));
    EXPECT_EQ(0, std::memcmp(f.data() + 1955, a.ConfigShadow(), 1955));
    EXPECT_EQ(0, std::memcmp(f.data() + 3910, a.ArchiveImage(), 186));
    EXPECT_EQ(f.substr(3910, 186), f.substr(4096, 186));
    EXPECT_EQ(0, std::memcmp(f.data() + 4096, a.ArchiveImage(), 131072));
    EXPECT_FALSE(std::filesystem::exists("x.vi5.part"));
}

TEST(ModelDataFile, ReopenRestoresImageAndArchiveAndShadowFollowsImage) {
    ScopedTempDir dir;
    static MemoryAreas saved, loaded;
    FillPattern(saved, 3);
    ASSERT_TRUE(SaveDataFile("r.vi5", saved));
    FillPattern(loaded, 99);
    ASSERT_EQ(LoadDataFile("r.vi5", loaded), OpenStage::None);
    EXPECT_EQ(0, std::memcmp(loaded.DeviceImage(), saved.DeviceImage(), 1955));
    EXPECT_EQ(
        0, std::memcmp(loaded.ConfigShadow(), saved.DeviceImage(), 1955));  // not the saved shadow
    EXPECT_EQ(0, std::memcmp(loaded.ArchiveImage(), saved.ArchiveImage(), 131072));
}

TEST(ModelDataFile, ShortEmptyAndLongFiles) {
    ScopedTempDir dir;
    static MemoryAreas a;
    struct Case {
        const char* name;
        std::size_t size;
    } cases[] = {{"empty.vi5", 0},          {"tiny.vi5", 100},     {"first.vi5", 4096},
                 {"part.vi5", 4096 + 1000}, {"whole.vi5", 135168}, {"big.vi5", 10 * 1024 * 1024}};
    std::mt19937 rng(5);
    for (const Case& c : cases) {
        std::string bytes(c.size, '\0');
        for (char& ch : bytes)
            ch = static_cast<char>(rng());
        WriteFile(c.name, bytes);
        FillPattern(a, 42);
        static MemoryAreas before;
        before.block = a.block;
        ASSERT_EQ(LoadDataFile(c.name, a), OpenStage::None) << c.name;
        const std::size_t imageBytes = std::min<std::size_t>(c.size, 1955);
        EXPECT_EQ(0, std::memcmp(a.DeviceImage(), bytes.data(), imageBytes)) << c.name;
        // Image bytes past a short file keep what was there.
        EXPECT_EQ(0, std::memcmp(a.DeviceImage() + imageBytes, before.DeviceImage() + imageBytes,
                                 1955 - imageBytes))
            << c.name;
        EXPECT_EQ(0, std::memcmp(a.ConfigShadow(), a.DeviceImage(), 1955)) << c.name;
        const std::size_t archiveBytes =
            c.size > 4096 ? std::min<std::size_t>(c.size - 4096, 131072) : 0;
        EXPECT_EQ(0, std::memcmp(a.ArchiveImage(),
                                 bytes.data() + std::min<std::size_t>(c.size, 4096), archiveBytes))
            << c.name;
        for (std::size_t i = archiveBytes; i < 131072; ++i)
            ASSERT_EQ(a.ArchiveImage()[i], 0) << c.name << " " << i;
    }
}

TEST(ModelDataFile, MissingFileLeavesDataAndNamesTheStage) {
    ScopedTempDir dir;
    static MemoryAreas a;
    FillPattern(a, 8);
    const auto before = a.block;
    EXPECT_EQ(LoadDataFile("absent.vi5", a), OpenStage::Open);
    EXPECT_EQ(LoadDataFile(dir.path().string(), a), OpenStage::Open);  // a directory
    EXPECT_EQ(a.block, before);
    EXPECT_STREQ(OpenStageText(OpenStage::Open), "открытия файла ");
    EXPECT_STREQ(OpenStageText(OpenStage::Decode), "декодирования данных ");
}

TEST(ModelDataFile, ShellQuotes) {
    EXPECT_EQ(StripShellQuotes("\"C:\\a b\\x.vi5\""), "C:\\a b\\x.vi5");
    EXPECT_EQ(StripShellQuotes("\"x.vi5"), "x.vi5");
    EXPECT_EQ(StripShellQuotes("x.vi5\""), "x.vi5\"");  // only a leading quote starts the rule
    EXPECT_EQ(StripShellQuotes("\"a\"b\".vi5"), "ab\".vi5");
    EXPECT_EQ(StripShellQuotes(""), "");
}

TEST(ModelDataFile, FailedSaveKeepsTheGoodFile) {
    // A disk with room for one data file only: the second save has no room for its temporary.
    test::SmallTmpfs disk(140 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
    static MemoryAreas a;
    FillPattern(a, 1);
    ASSERT_TRUE(SaveDataFile(disk.File("keep.vi5"), a));
    const std::string good = ReadFile(disk.File("keep.vi5"));
    FillPattern(a, 2);
    std::string error;
    EXPECT_FALSE(SaveDataFile(disk.File("keep.vi5"), a, error));
    EXPECT_EQ(error, "нет места на диске");
    EXPECT_EQ(ReadFile(disk.File("keep.vi5")), good);
    // Nothing but the good file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk.Path()), {}), 1);
    EXPECT_FALSE(SaveDataFile("no/such/dir/x.vi5", a));
}

TEST(ModelDataFile, StaleOrPlantedTemporaryNamesAreNotUsed) {
    ScopedTempDir dir;
    static MemoryAreas a;
    FillPattern(a, 1);
    // A directory and a link where the temporary file was once named: neither is touched.
    std::filesystem::create_directory("keep.vi5.part");
    test::WriteFile("victim", "victim");
    std::filesystem::create_symlink("victim", "other.vi5.part");
    ASSERT_TRUE(SaveDataFile("keep.vi5", a));
    ASSERT_TRUE(SaveDataFile("other.vi5", a));
    EXPECT_EQ(ReadFile("keep.vi5").size(), 135168u);
    EXPECT_TRUE(std::filesystem::is_directory("keep.vi5.part"));
    EXPECT_EQ(ReadFile("victim"), "victim");
}

TEST(ModelSettings, DefaultsWithoutAFile) {
    ScopedTempDir dir;
    const std::string programDir = dir.path().string() + "/";
    const WorkSettings s = LoadWorkSettings(programDir);
    EXPECT_EQ(s.workDir, programDir);
    EXPECT_EQ(s.nextSerial, "500002");
    // An installed program's settings lie apart from its data; the work directory then starts
    // in the data directory, and a stored one still wins.
    EXPECT_EQ(LoadWorkSettings(programDir, "/data/vir05/").workDir, "/data/vir05/");
    ASSERT_TRUE(StoreSetting(programDir, "WorkDir", "/chosen/"));
    EXPECT_EQ(LoadWorkSettings(programDir, "/data/vir05/").workDir, "/chosen/");
}

TEST(ModelSettings, SaveKeepsOtherKeysSectionsAndLineStyle) {
    ScopedTempDir dir;
    const std::string programDir = dir.path().string() + "/";
    WriteFile("vir05.ini",
              "\xEF\xBB\xBF; comment line\n[Other]\nKey=1\n[setting]\nport = COM3\ngarbage without "
              "equals\n"
              "WorkDir=/old/\n\n[Tail]\nx=y\n");
    ASSERT_TRUE(StoreSetting(programDir, "WorkDir", "/data/vir05/"));
    ASSERT_TRUE(StoreSetting(programDir, "NextSerial", "500123"));
    const std::string text = ReadFile("vir05.ini");
    EXPECT_EQ(text,
              "\xEF\xBB\xBF; comment line\n[Other]\nKey=1\n[setting]\nport = COM3\ngarbage without "
              "equals\n"
              "WorkDir=/data/vir05/\nNextSerial=500123\n\n[Tail]\nx=y\n");
    IniFile ini;
    ini.Load("vir05.ini");
    EXPECT_EQ(ini.ReadString("Setting", "Port", "COM1"), "COM3");  // names compare without case
    EXPECT_EQ(ini.ReadString("Other", "Key", ""), "1");
    EXPECT_EQ(LoadWorkSettings(programDir).nextSerial, "500123");
}

TEST(ModelSettings, CrlfFilesAndNewFiles) {
    ScopedTempDir dir;
    WriteFile("vir05.ini", "[Setting]\r\nNetAddr=7\r\n");
    IniFile ini;
    ini.Load("vir05.ini");
    EXPECT_EQ(ini.ReadInteger("Setting", "NetAddr", 0), 7);
    EXPECT_EQ(ini.ReadInteger("Setting", "Missing", 9), 9);
    ini.WriteInteger("Setting", "IPport", 10001);
    ASSERT_TRUE(ini.Save("vir05.ini"));
    EXPECT_EQ(ReadFile("vir05.ini"), "[Setting]\r\nNetAddr=7\r\nIPport=10001\r\n");

    IniFile fresh;
    fresh.Load("none.ini");
    fresh.WriteString("Setting", "Interface", "TCP");
    ASSERT_TRUE(fresh.Save("new.ini"));
    EXPECT_EQ(ReadFile("new.ini"), "[Setting]\r\nInterface=TCP\r\n");
}

TEST(ModelSettings, GarbageAndKeysOutsideSections) {
    IniFile ini;
    ini.Parse("NetAddr=5\n=novalue\n[broken\n[Setting]\nNetAddr=abc\nPinCode=\n\x01\x02\x03\n");
    EXPECT_EQ(ini.ReadInteger("Setting", "NetAddr", 0), 0);  // not a number: the default
    EXPECT_TRUE(ini.HasKey("Setting", "PinCode"));
    EXPECT_EQ(ini.ReadString("Setting", "PinCode", "x"), "");
    EXPECT_FALSE(ini.HasKey("Setting", "Port"));
    ini.WriteString("Setting", "NetAddr", "3");
    EXPECT_EQ(ini.Text(),
              "NetAddr=5\n=novalue\n[broken\n[Setting]\nNetAddr=3\nPinCode=\n\x01\x02\x03\n");
}

TEST(ModelSettings, UnwritableFileIsNotFatal) {
    ScopedTempDir dir;
    std::filesystem::create_directory("vir05.ini");  // a directory where the file should be
    const std::string programDir = dir.path().string() + "/";
    EXPECT_FALSE(StoreSetting(programDir, "WorkDir", "/x/"));
    EXPECT_EQ(LoadWorkSettings(programDir).nextSerial, "500002");
}

}  // namespace
}  // namespace vir05

namespace vir05 {
namespace {

TEST(ModelPorts, PortTextsToDevices) {
    IniFile ini;
    ini.Parse("[Setting]\nCOM3=/dev/ttyUSB0\ncom4=ttyACM1\nCOM5=\nCOM6=COM2\n");
    struct Case {
        const char* text;
        const char* device;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},       {"com12", "/dev/ttyS11"},    {"COM3", "/dev/ttyUSB0"},
        {"COM4", "/dev/ttyACM1"},     {"COM5", "/dev/ttyS4"},      {"COM6", "/dev/ttyS1"},
        {"/dev/pts/7", "/dev/pts/7"}, {"ttyUSB2", "/dev/ttyUSB2"}, {"", ""},
        {"COM0", "/dev/COM0"},        {"COM-1", "/dev/COM-1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolvePortDevice(c.text, &ini), c.device) << c.text;
    EXPECT_EQ(ResolvePortDevice("COM3", nullptr), "/dev/ttyS2");
    EXPECT_EQ(ComPortNumber("COM10"), 10);
    EXPECT_EQ(ComPortNumber("COMx"), 0);
    EXPECT_EQ(ComPortNumber("COM+1"), 0);
}

}  // namespace
}  // namespace vir05
