#include "model/ports.h"

#include "model/text.h"

namespace vir05 {

int ComPortNumber(const std::string& t) {
    if (t.size() < 4) return 0;
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (up(t[0]) != 'C' || up(t[1]) != 'O' || up(t[2]) != 'M') return 0;
    const auto n = ParseInt(std::string_view(t).substr(3));
    return n && *n > 0 && t[3] != '+' && t[3] != '-' ? *n : 0;
}

std::string ResolvePortDevice(const std::string& portText, const IniFile* settings) {
    if (portText.find('/') != std::string::npos) return portText;
    const int n = ComPortNumber(portText);
    if (n > 0) {
        const std::string key = "COM" + std::to_string(n);
        if (settings && settings->HasKey(kSettingsSection, key)) {
            const std::string mapped = settings->ReadString(kSettingsSection, key, "");
            // The mapped text follows the same rules, without a second mapping.
            if (!mapped.empty()) return ResolvePortDevice(mapped, nullptr);
        }
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    if (portText.empty()) return portText;
    return "/dev/" + portText;
}

}  // namespace vir05
