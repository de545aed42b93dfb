#include "model/locations.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vir05 {

namespace {

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

// The base directory of an XDG variable: its value when absolute, else HOME + fallback;
// empty when neither can be had.
std::string BaseDir(const LocationFacts& f, const char* variable, const char* underHome) {
    const std::string value = f.env ? f.env(variable) : std::string();
    if (!value.empty() && value.front() == '/') return WithSlash(value);
    const std::string home = f.env ? f.env("HOME") : std::string();
    if (home.empty() || home.front() != '/') return {};
    return WithSlash(home) + underHome;
}

}  // namespace

FileLocations DecideLocations(const LocationFacts& f) {
    const std::string programDir = WithSlash(f.programDir);
    FileLocations portable{false, programDir, programDir, programDir};
    if (f.programDirWritable && !f.installedTree) return portable;
    const std::string config = BaseDir(f, "XDG_CONFIG_HOME", ".config/");
    const std::string data = BaseDir(f, "XDG_DATA_HOME", ".local/share/");
    if (config.empty() || data.empty()) return portable;
    FileLocations l;
    l.installed = true;
    l.settingsDir = config + kFilesFolder + "/";
    l.dataDir = data + kFilesFolder + "/";
    l.helpDir = f.installedTree ? InstalledShareDir(programDir) : programDir;
    return l;
}

std::string InstalledShareDir(const std::string& binDir) {
    // "/usr/bin/" -> "/usr/" -> "/usr/share/vir05/"
    std::filesystem::path bin(binDir);
    if (!bin.has_filename()) bin = bin.parent_path();
    return WithSlash((bin.parent_path() / "share" / kFilesFolder).string());
}

bool IsInstalledTree(const std::string& dir) {
    std::filesystem::path bin(dir);
    if (!bin.has_filename()) bin = bin.parent_path();
    if (bin.filename() != "bin") return false;
    std::error_code ec;
    return std::filesystem::is_directory(InstalledShareDir(dir), ec);
}

bool DirectoryWritable(const std::string& dir) {
    // The standard library tells permission bits, not what this user may do; the system does.
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

FileLocations ProgramLocations(const std::string& programDir) {
    LocationFacts f;
    f.programDir = programDir;
    f.programDirWritable = DirectoryWritable(programDir);
    f.installedTree = IsInstalledTree(programDir);
    f.env = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::string(v) : std::string();
    };
    return DecideLocations(f);
}

}  // namespace vir05
