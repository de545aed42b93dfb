// The settings file "vir05.ini" and the INI format it uses.
//
// Each user of the file opens it for one load or one save: the whole file is read into memory,
// keys are read or changed there, and a save writes the whole file back, so keys and sections
// written by others survive. Section and key names compare case-insensitively (ASCII), as the
// format has always done. A missing file or key gives the defaults; read and write errors are
// not fatal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vir05 {

inline constexpr const char* kSettingsFileName = "vir05.ini";
inline constexpr const char* kSettingsSection = "Setting";
// The largest settings file that is read (64 KiB; a real one holds a few hundred bytes).
inline constexpr std::size_t kSettingsMaxBytes = 64u << 10;

class IniFile {
  public:
    // Reads the whole file; a missing or unreadable file, one that is not a regular file or one
    // larger than kSettingsMaxBytes gives an empty document (and a Save that writes nothing, so
    // that what stands there is not replaced by defaults). A UTF-8
    // byte-order mark is skipped and kept; LF and CRLF line ends are both understood, and the
    // style found is the style written back (CRLF for a new file).
    bool Load(const std::string& path);
    // Parses text already in memory (same rules as Load).
    void Parse(std::string_view text);
    // Writes the whole document back. Returns false when the file could not be written.
    bool Save(const std::string& path) const;
    std::string Text() const;

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // A decimal integer; the fallback when the key is missing or not a number.
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    bool HasKey(std::string_view section, std::string_view key) const;

  private:
    // Lines are kept as they stand, so comments, garbage lines and foreign sections survive.
    struct Line {
        std::string text;
        enum Kind { Other, Section, Key } kind = Other;
        std::string name;  // section or key name, trimmed
    };
    int FindSection(std::string_view section) const;           // index of header or -1
    int FindKey(int sectionLine, std::string_view key) const;  // index or -1
    int SectionEnd(int sectionLine) const;                     // one past its last line
    static Line MakeLine(std::string text);

    std::vector<Line> lines_;
    bool refused_ = false;  // the last Load found a file it would not read
    bool bom_ = false;
    bool crlf_ = true;
};

// The values the main window loads when it is first shown.
struct WorkSettings {
    std::string workDir;     // "WorkDir", defaults to the program directory
    std::string nextSerial;  // "NextSerial", defaults to "500002"
};

std::string SettingsPath(const std::string& programDir);
// `defaultWorkDir` is the work directory without a "WorkDir" key (empty: `programDir`).
WorkSettings LoadWorkSettings(const std::string& programDir,
                              const std::string& defaultWorkDir = {});
// One save: opens the file, sets the key of section "Setting", writes it back.
bool StoreSetting(const std::string& programDir, std::string_view key, std::string_view value);

}  // namespace vir05
