#include "model/settings.h"

#include <cstdio>
#include <fstream>

#include "model/safe_file.h"
#include "model/text.h"

namespace vir05 {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
}  // namespace

IniFile::Line IniFile::MakeLine(std::string text) {
    Line line;
    const std::string_view t = TrimBlanks(text);
    if (t.size() >= 2 && t.front() == '[') {
        const auto close = t.find(']');
        if (close != std::string_view::npos) {
            line.kind = Line::Section;
            line.name = std::string(TrimBlanks(t.substr(1, close - 1)));
        }
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
        const auto eq = t.find('=');
        if (eq != std::string_view::npos && eq > 0) {
            line.kind = Line::Key;
            line.name = std::string(TrimBlanks(t.substr(0, eq)));
        }
    }
    line.text = std::move(text);
    return line;
}

void IniFile::Parse(std::string_view text) {
    lines_.clear();
    bom_ = text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF";
    if (bom_) text.remove_prefix(3);
    crlf_ = text.empty() || text.find("\r\n") != std::string_view::npos ||
            text.find('\n') == std::string_view::npos;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto nl = text.find('\n', pos);
        std::string_view raw =
            text.substr(pos, nl == std::string_view::npos ? text.size() - pos : nl - pos);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        lines_.push_back(MakeLine(std::string(raw)));
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
}

bool IniFile::Load(const std::string& path) {
    refused_ = false;
    // A FIFO or device of that name is not waited on, and a file beyond any sane size is not
    // read into memory: both give the defaults, and a later Save leaves them as they are.
    std::string error;
    std::FILE* f = OpenRegularForReading(path, error, kSettingsMaxBytes);
    if (!f) {
        refused_ = ClassifyNode(path) != NodeKind::Missing;
        Parse({});
        return false;
    }
    std::string text;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() <= kSettingsMaxBytes)
        text.append(chunk, n);
    std::fclose(f);
    if (text.size() > kSettingsMaxBytes) {  // it grew while being read
        refused_ = true;
        Parse({});
        return false;
    }
    Parse(text);
    return true;
}

std::string IniFile::Text() const {
    std::string out;
    if (bom_) out += "\xEF\xBB\xBF";
    const char* eol = crlf_ ? "\r\n" : "\n";
    for (const Line& l : lines_) {
        out += l.text;
        out += eol;
    }
    return out;
}

bool IniFile::Save(const std::string& path) const {
    if (refused_) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    const std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    return static_cast<bool>(out);
}

int IniFile::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && EqualNoCase(lines_[i].name, section))
            return static_cast<int>(i);
    return -1;
}

int IniFile::SectionEnd(int sectionLine) const {
    std::size_t i = static_cast<std::size_t>(sectionLine) + 1;
    while (i < lines_.size() && lines_[i].kind != Line::Section)
        ++i;
    return static_cast<int>(i);
}

int IniFile::FindKey(int sectionLine, std::string_view key) const {
    const int end = SectionEnd(sectionLine);
    for (int i = sectionLine + 1; i < end; ++i)
        if (lines_[i].kind == Line::Key && EqualNoCase(lines_[i].name, key)) return i;
    return -1;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    const int s = FindSection(section);
    return s >= 0 && FindKey(s, key) >= 0;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
    const int s = FindSection(section);
    const int k = s >= 0 ? FindKey(s, key) : -1;
    if (k < 0) return std::string(fallback);
    const std::string& t = lines_[static_cast<std::size_t>(k)].text;
    return std::string(TrimBlanks(std::string_view(t).substr(t.find('=') + 1)));
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
    if (!HasKey(section, key)) return fallback;
    return ParseIntOr(ReadString(section, key, ""), fallback);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::string text = std::string(key) + "=" + std::string(value);
    int s = FindSection(section);
    if (s < 0) {
        // A new section goes at the end, after a blank line when the file has content.
        if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty())
            lines_.push_back(MakeLine(""));
        lines_.push_back(MakeLine("[" + std::string(section) + "]"));
        lines_.push_back(MakeLine(std::move(text)));
        return;
    }
    const int k = FindKey(s, key);
    if (k >= 0) {
        lines_[static_cast<std::size_t>(k)] = MakeLine(std::move(text));
        return;
    }
    // After the section's last non-blank line.
    int at = SectionEnd(s);
    while (at - 1 > s && TrimBlanks(lines_[static_cast<std::size_t>(at - 1)].text).empty())
        --at;
    lines_.insert(lines_.begin() + at, MakeLine(std::move(text)));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string SettingsPath(const std::string& programDir) {
    return programDir + kSettingsFileName;
}

WorkSettings LoadWorkSettings(const std::string& programDir, const std::string& defaultWorkDir) {
    IniFile ini;
    ini.Load(SettingsPath(programDir));
    const std::string& workDir = defaultWorkDir.empty() ? programDir : defaultWorkDir;
    return WorkSettings{ini.ReadString(kSettingsSection, "WorkDir", workDir),
                        ini.ReadString(kSettingsSection, "NextSerial", "500002")};
}

bool StoreSetting(const std::string& programDir, std::string_view key, std::string_view value) {
    IniFile ini;
    const std::string path = SettingsPath(programDir);
    ini.Load(path);
    ini.WriteString(kSettingsSection, key, value);
    return ini.Save(path);
}

}  // namespace vir05
