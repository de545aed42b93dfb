#include "ui/connect/connection.h"

#include <algorithm>

#include "core/format.h"
#include "model/ports.h"

namespace vir05 {

namespace {

// A whole number in [lo, hi], or the fallback. Spaces around the digits are allowed: they are
// easily typed into a drop-down list and do not make the number unreadable.
int NumberInRange(std::string_view text, int lo, int hi, int fallback) {
    const auto n = ParseInt(TrimBlanks(text));
    return n && *n >= lo && *n <= hi ? *n : fallback;
}

std::string OneLine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

bool Listed(const std::vector<std::string>& list, const std::string& v) {
    return std::find(list.begin(), list.end(), v) != list.end();
}

void LoadHistory(const IniFile& ini, std::string_view word, std::vector<std::string>& list) {
    for (int i = 0; i < kHistoryReadCount; ++i) {
        std::string v = ini.ReadString(kSettingsSection, std::string(word) + std::to_string(i), "");
        if (!v.empty() && !Listed(list, v)) list.push_back(std::move(v));
    }
}

void StoreHistory(IniFile& ini, std::string_view word, const std::string& current,
                  std::vector<std::string>& list) {
    ini.WriteString(kSettingsSection, word, OneLine(current));
    if (!current.empty() && !Listed(list, current)) list.insert(list.begin(), current);
    for (std::size_t i = 0; i < list.size(); ++i)
        ini.WriteString(kSettingsSection, std::string(word) + std::to_string(i + 1),
                        OneLine(list[i]));
}

}  // namespace

bool IsServiceCode(std::string_view pin) {
    return pin == kServiceAccessCode;
}

ConnectionValues CommandConnection(const ConnectionTexts& t) {
    ConnectionValues v;
    v.transport = t.transport;
    v.host = t.host;
    v.tcpPort = NumberInRange(t.tcpPort, 1, 65535, kDefaultTcpPort);
    v.netAddr = NumberInRange(t.netAddr, 0, 255, 0);
    v.port = t.port;
    if (t.transport == Transport::Modem) v.phone = t.phone;
    v.baudRate = static_cast<std::uint32_t>(
        NumberInRange(t.baudRate, 1, 0x7FFFFFFF, static_cast<int>(kDefaultBaudRate)));
    return v;
}

ConnectionValues ServiceConnection(const ConnectionTexts& t) {
    ConnectionTexts serial = t;
    serial.transport = Transport::Rs485;
    return CommandConnection(serial);
}

std::string_view InterfaceWord(Transport t) {
    switch (t) {
        case Transport::Tcp:
            return "TCP";
        case Transport::Modem:
            return "Modem";
        case Transport::Rs485:
            break;
    }
    return "RS";
}

std::optional<Transport> ParseInterfaceWord(std::string_view word) {
    if (word == "RS") return Transport::Rs485;
    if (word == "TCP") return Transport::Tcp;
    if (word == "Modem") return Transport::Modem;
    return std::nullopt;
}

void LoadConnectSettings(const IniFile& ini, ConnectSettings& s) {
    const std::string_view sec = kSettingsSection;
    s.transport = ParseInterfaceWord(ini.ReadString(sec, "Interface", "RS"));
    s.port = ini.ReadString(sec, "Port", "COM1");
    s.baudRate = ini.ReadString(sec, "BaudRate", "9600");
    s.pinCode = ini.ReadString(sec, "PinCode", "");
    s.num = ini.ReadString(sec, "Num", "");
    LoadHistory(ini, "Num", s.numHistory);
    s.netAddr = ini.ReadInteger(sec, "NetAddr", 0);
    s.ipPort = ini.ReadString(sec, "IPport", "10001");
    s.ipAddr = ini.ReadString(sec, "IPaddr", "192.168.0.1");
    LoadHistory(ini, "IPaddr", s.ipAddrHistory);
}

void StoreConnectSettings(IniFile& ini, ConnectSettings& s) {
    const std::string_view sec = kSettingsSection;
    ini.WriteString(sec, "Interface", InterfaceWord(s.transport.value_or(Transport::Rs485)));
    ini.WriteString(sec, "Port", OneLine(s.port));
    StoreHistory(ini, "Num", s.num, s.numHistory);
    ini.WriteString(sec, "BaudRate", OneLine(s.baudRate));
    ini.WriteInteger(sec, "NetAddr", s.netAddr);
    ini.WriteString(sec, "IPport", OneLine(s.ipPort));
    StoreHistory(ini, "IPaddr", s.ipAddr, s.ipAddrHistory);
    ini.WriteString(sec, "PinCode", OneLine(s.pinCode));
}

std::string PortChoiceName(const std::string& device, const IniFile* settings) {
    // 256 covers every port number a serial driver hands out.
    for (int n = 1; n <= 256; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (ResolvePortDevice(name, settings) == device) return name;
    }
    return device;
}

}  // namespace vir05
