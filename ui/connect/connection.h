// What the connection dialog holds, as plain data: the texts a command start reads, the numbers
// it turns them into, and the connection keys of the settings file with their histories.
//
// Nothing here needs the toolkit, so the conversions and the file rules are tested on their own;
// the dialog only copies its controls into these structures and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/settings.h"

namespace vir05 {

enum class Transport { Rs485, Modem, Tcp };

// The PIN text that turns service mode on.
inline constexpr std::string_view kServiceAccessCode = "2749";
inline constexpr int kDefaultTcpPort = 10001;
inline constexpr std::uint32_t kDefaultBaudRate = 9600;
// History keys: "Num1", "IPaddr1", ... Indexes 0..9 are read; a save writes from 1 on.
inline constexpr int kHistoryReadCount = 10;

bool IsServiceCode(std::string_view pin);

// The controls' texts at the moment a command starts.
struct ConnectionTexts {
    Transport transport = Transport::Rs485;
    std::string host;      // _IP_addr
    std::string tcpPort;   // _IP_port
    std::string netAddr;   // _NetAddr
    std::string port;      // _Port
    std::string phone;     // _Num
    std::string baudRate;  // _BaudRate
};

// The arguments of a command start.
struct ConnectionValues {
    Transport transport = Transport::Rs485;
    std::string host;
    int tcpPort = kDefaultTcpPort;
    int netAddr = 0;
    std::string port;
    std::string phone;  // empty unless the modem is chosen
    std::uint32_t baudRate = kDefaultBaudRate;

    // TCP goes through StartTcpCommand; RS485 and the modem through StartSerialCommand.
    bool IsTcp() const { return transport == Transport::Tcp; }
    bool operator==(const ConnectionValues&) const = default;
};

// Reads the texts as the command start does: a TCP port that is not a number in 1..65535 gives
// 10001, an address that is not a number in 0..255 gives 0, a baud rate that is not a positive
// number gives 9600; the phone number is passed only with the modem.
ConnectionValues CommandConnection(const ConnectionTexts& texts);
// Service commands and the serial-number write always go over the COM port, without dialling,
// whatever transport is chosen.
ConnectionValues ServiceConnection(const ConnectionTexts& texts);

// "RS", "TCP", "Modem" as stored under "Interface".
std::string_view InterfaceWord(Transport t);
// Exact, case-sensitive; nullopt for any other word (the choice then stays as it is).
std::optional<Transport> ParseInterfaceWord(std::string_view word);

// The connection keys of section "Setting".
struct ConnectSettings {
    std::optional<Transport> transport = Transport::Rs485;  // "Interface"
    std::string port = "COM1";                              // "Port"
    std::string num;                                        // "Num"
    std::string baudRate = "9600";                          // "BaudRate"
    int netAddr = 0;                                        // "NetAddr"
    std::string ipPort = "10001";                           // "IPport"
    std::string ipAddr = "192.168.0.1";                     // "IPaddr"
    std::string pinCode;                                    // "PinCode"
    // The drop-down lists of _Num and _IP_addr, in list order.
    std::vector<std::string> numHistory;
    std::vector<std::string> ipAddrHistory;
};

// One load: every value from `ini` or its default; the entries Num0..Num9 and IPaddr0..IPaddr9
// that are not empty and not yet listed are appended to the histories already in `s`, which
// are not emptied first.
void LoadConnectSettings(const IniFile& ini, ConnectSettings& s);

// One save, keys in their fixed order. A current number or address that is not empty and not
// in its history goes to the top of it first; then every history entry i (from 1) is written
// under its key word followed by i. Line breaks in any text are dropped on the way to the file,
// since a value line cannot hold them.
void StoreConnectSettings(IniFile& ini, ConnectSettings& s);

// The name under which a machine's serial device is offered in the port list: "COMn" for the
// lowest n whose port text resolves to that device (through the settings' COMn keys or the
// default rule), otherwise the device path itself, which the link also accepts.
std::string PortChoiceName(const std::string& device, const IniFile* settings);

}  // namespace vir05
