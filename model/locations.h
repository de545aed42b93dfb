// Where the program keeps its own files.
//
// A copy of the program in a folder of its own keeps everything there: "vir05.ini", the data
// file saved after an archive read, the window's text output and the help page "vir05.html" lie
// beside the executable. An installed program cannot or must not write beside itself (a
// directory such as /usr/bin), so it keeps the same settings file in the user's configuration
// directory and the files it writes by itself in the user's data directory, as Linux desktops
// expect.
#pragma once

#include <functional>
#include <string>

namespace vir05 {

inline constexpr const char* kFilesFolder = "vir05";  // under the user's config and data dirs

struct FileLocations {
    bool installed = false;   // false: every directory below is the program directory
    std::string settingsDir;  // holds "vir05.ini"
    std::string dataDir;      // the automatic data files, the window's text output
    std::string helpDir;      // holds "vir05.html"
};

// What the decision looks at, gathered by ProgramLocations or given by a test.
struct LocationFacts {
    std::string programDir;          // the executable's directory, with a trailing '/'
    bool programDirWritable = true;  // whether this user may create files in it
    bool installedTree = false;      // PREFIX/bin beside PREFIX/share/vir05 (a package's layout)
    std::function<std::string(const char*)> env;  // an environment variable, "" when unset
};

// The program directory for everything when it is writable and not a package's binary
// directory; otherwise $XDG_CONFIG_HOME/vir05/ (default ~/.config/vir05/) for the settings and
// $XDG_DATA_HOME/vir05/ (default ~/.local/share/vir05/) for the data. Relative XDG values are
// ignored, as the XDG base directory rules say. Without a home directory to go to the program
// directory stays in use. Every directory ends with '/'. Nothing is created here.
FileLocations DecideLocations(const LocationFacts& facts);

// Whether `dir` (with a trailing '/') is PREFIX/bin/ of a tree that holds PREFIX/share/vir05/.
bool IsInstalledTree(const std::string& dir);
// PREFIX/share/vir05/ for PREFIX/bin/.
std::string InstalledShareDir(const std::string& binDir);
// Whether this user may create files in `dir` (permissions, read-only mounts).
bool DirectoryWritable(const std::string& dir);

// The decision for this process: the real directory, its permissions and environment.
FileLocations ProgramLocations(const std::string& programDir);

}  // namespace vir05
