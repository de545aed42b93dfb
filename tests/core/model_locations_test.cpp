// Where the program keeps its settings and the files it writes by itself: beside the program
// in a folder of its own, in the user's XDG directories when installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "model/locations.h"
#include "test_util.h"

namespace vir05 {
namespace {

namespace fs = std::filesystem;

LocationFacts Facts(std::string programDir, bool writable, bool tree,
                    std::map<std::string, std::string> env) {
    LocationFacts f;
    f.programDir = std::move(programDir);
    f.programDirWritable = writable;
    f.installedTree = tree;
    f.env = [env = std::move(env)](const char* name) {
        const auto it = env.find(name);
        return it == env.end() ? std::string() : it->second;
    };
    return f;
}

TEST(ModelLocations, DecisionTable) {
    struct Case {
        const char* what;
        LocationFacts facts;
        FileLocations expected;
    };
    const std::map<std::string, std::string> home{{"HOME", "/home/eng"}};
    const std::map<std::string, std::string> xdg{
        {"HOME", "/home/eng"}, {"XDG_CONFIG_HOME", "/cfg"}, {"XDG_DATA_HOME", "/srv/data/"}};
    const Case cases[] = {
        {"a folder of its own that it may write keeps everything there",
         Facts("/home/eng/vir05/", true, false, xdg),
         {false, "/home/eng/vir05/", "/home/eng/vir05/", "/home/eng/vir05/"}},
        {"the trailing separator is added",
         Facts("/home/eng/vir05", true, false, home),
         {false, "/home/eng/vir05/", "/home/eng/vir05/", "/home/eng/vir05/"}},
        {"a read-only folder: the XDG directories, the help page still beside the program",
         Facts("/opt/vir05/", false, false, xdg),
         {true, "/cfg/vir05/", "/srv/data/vir05/", "/opt/vir05/"}},
        {"a read-only folder without XDG variables: the home defaults",
         Facts("/opt/vir05/", false, false, home),
         {true, "/home/eng/.config/vir05/", "/home/eng/.local/share/vir05/", "/opt/vir05/"}},
        {"relative XDG values are ignored",
         Facts("/opt/vir05/", false, false,
               {{"HOME", "/home/eng/"}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "d"}}),
         {true, "/home/eng/.config/vir05/", "/home/eng/.local/share/vir05/", "/opt/vir05/"}},
        {"a package's bin directory, even where this user (root) may write it",
         Facts("/usr/bin/", true, true, home),
         {true, "/home/eng/.config/vir05/", "/home/eng/.local/share/vir05/", "/usr/share/vir05/"}},
        {"nowhere else to go: the program directory, as before",
         Facts("/opt/vir05/", false, false, {}),
         {false, "/opt/vir05/", "/opt/vir05/", "/opt/vir05/"}},
        {"a relative HOME is no home",
         Facts("/opt/vir05/", false, false, {{"HOME", "eng"}}),
         {false, "/opt/vir05/", "/opt/vir05/", "/opt/vir05/"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FileLocations got = DecideLocations(c.facts);
        EXPECT_EQ(got.installed, c.expected.installed);
        EXPECT_EQ(got.settingsDir, c.expected.settingsDir);
        EXPECT_EQ(got.dataDir, c.expected.dataDir);
        EXPECT_EQ(got.helpDir, c.expected.helpDir);
    }
}

TEST(ModelLocations, InstalledTreeIsBinBesideShareVir05) {
    test::ScopedTempDir dir;
    const std::string prefix = dir.path().string() + "/usr/";
    fs::create_directories(prefix + "bin");
    EXPECT_FALSE(IsInstalledTree(prefix + "bin/"));  // no share/vir05 beside it yet
    fs::create_directories(prefix + "share/vir05");
    EXPECT_TRUE(IsInstalledTree(prefix + "bin/"));
    EXPECT_TRUE(IsInstalledTree(prefix + "bin"));
    EXPECT_EQ(InstalledShareDir(prefix + "bin/"), prefix + "share/vir05/");
    fs::create_directories(prefix + "app");
    EXPECT_FALSE(IsInstalledTree(prefix + "app/"));  // a build or portable folder
    EXPECT_FALSE(IsInstalledTree(prefix + "share/"));
}

// Runs ProgramLocations for `programDir` in a child process with the given XDG variables, as
// a user other than root (root may write anywhere), and returns settings, data and help
// directories and the installed flag, one per line.
std::string LocationsInChild(const std::string& programDir, const std::string& home) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/conf").c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        const FileLocations l = ProgramLocations(programDir);
        const std::string out = std::string(l.installed ? "installed" : "portable") + "\n" +
                                l.settingsDir + "\n" + l.dataDir + "\n" + l.helpDir + "\n";
        const bool ok = write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
        _exit(ok ? 0 : 4);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child failed " + std::to_string(status);
    return out;
}

TEST(ModelLocations, RealDirectoriesAndEnvironment) {
    test::ScopedTempDir dir;
    const std::string root = dir.path().string();
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const std::string writable = root + "/portable/";
    const std::string readOnly = root + "/readonly/";
    fs::create_directories(writable);
    fs::create_directories(readOnly);
    // A folder everyone may write, like one the engineer unpacked the program into.
    fs::permissions(writable, fs::perms::all);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    const std::string home = root + "/home";

    EXPECT_EQ(LocationsInChild(writable, home),
              "portable\n" + writable + "\n" + writable + "\n" + writable + "\n");
    EXPECT_EQ(LocationsInChild(readOnly, home), "installed\n" + home + "/conf/vir05/\n" + home +
                                                    "/.local/share/vir05/\n" + readOnly + "\n");
    // Nothing is created by the decision itself.
    EXPECT_FALSE(fs::exists(home));
    fs::permissions(readOnly, fs::perms::owner_all);
}

}  // namespace
}  // namespace vir05
