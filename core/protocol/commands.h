// The link's vocabulary: command numbers, results and error texts, each written once.
//
// The request keeps its cells as 32-bit integers of the widths the program has always used
// (Command, Status); the code around them speaks these enums and converts at the cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

namespace vir05 {

enum class LinkCommand : std::int32_t {
    None = 0,  // idle, or cancelled while running
    ReadCurrent = 1,
    ReadArchive = 3,
    WriteConfig = 4,
    SetClock = 5,
    WriteSerial = 6,
    EmulatorStep = 7,
    ServiceCalibrate100 = 8,   // "Калибровка 500 (100)"
    ServiceEraseArchives = 9,  // "Стирание архивов"
    ServiceWriteAD = 10,
    ServiceResetAD = 11,
    ServiceCalibrateShort = 12,  // "Калибровка К.З."
    ServiceReboot = 261,         // "Перезагрузка"
};

// Result of a command, as the Status cell holds it.
enum class LinkStatus : std::int32_t {
    Success = 0,
    Cancelled = -1,
    NotOpened = -2,
    NoReply = 1,  // no reply, an incomplete reply, or carrier lost
    Checksum = 2,
    NotAcknowledged = 3,
    BadImageHeader = 10,
    BadArchiveHeader = 11,
};

constexpr std::int32_t ToCell(LinkCommand c) {
    return static_cast<std::int32_t>(c);
}
constexpr std::int32_t ToCell(LinkStatus s) {
    return static_cast<std::int32_t>(s);
}

constexpr bool IsServiceCommand(int c) {
    return (c >= ToCell(LinkCommand::ServiceCalibrate100) &&
            c <= ToCell(LinkCommand::ServiceCalibrateShort)) ||
           c == ToCell(LinkCommand::ServiceReboot);
}
// The code a service command writes to the controller's service byte.
constexpr std::uint8_t ServiceCode(int c) {
    return static_cast<std::uint8_t>(c - ToCell(LinkCommand::EmulatorStep));
}

// The cells' integer values under short names, for the code that compares and stores cells.
namespace link_status {
inline constexpr int Success = ToCell(LinkStatus::Success);
inline constexpr int Cancelled = ToCell(LinkStatus::Cancelled);
inline constexpr int NotOpened = ToCell(LinkStatus::NotOpened);
inline constexpr int NoReply = ToCell(LinkStatus::NoReply);
inline constexpr int Checksum = ToCell(LinkStatus::Checksum);
inline constexpr int NotAcknowledged = ToCell(LinkStatus::NotAcknowledged);
inline constexpr int BadImageHeader = ToCell(LinkStatus::BadImageHeader);
inline constexpr int BadArchiveHeader = ToCell(LinkStatus::BadArchiveHeader);
}  // namespace link_status

namespace command {
inline constexpr int ReadCurrent = ToCell(LinkCommand::ReadCurrent);
inline constexpr int ReadArchive = ToCell(LinkCommand::ReadArchive);
inline constexpr int WriteConfig = ToCell(LinkCommand::WriteConfig);
inline constexpr int SetClock = ToCell(LinkCommand::SetClock);
inline constexpr int WriteSerial = ToCell(LinkCommand::WriteSerial);
inline constexpr int EmulatorStep = ToCell(LinkCommand::EmulatorStep);
inline constexpr int ServiceCalibrate100 = ToCell(LinkCommand::ServiceCalibrate100);
inline constexpr int ServiceEraseArchives = ToCell(LinkCommand::ServiceEraseArchives);
inline constexpr int ServiceWriteAD = ToCell(LinkCommand::ServiceWriteAD);
inline constexpr int ServiceResetAD = ToCell(LinkCommand::ServiceResetAD);
inline constexpr int ServiceCalibrateShort = ToCell(LinkCommand::ServiceCalibrateShort);
inline constexpr int ServiceReboot = ToCell(LinkCommand::ServiceReboot);
constexpr bool IsService(int c) {
    return IsServiceCommand(c);
}
}  // namespace command

// The link's error texts. Some take a detail: the port name, the modem's answer, a byte, counts.
enum class LinkError {
    Cancelled,
    NoByte,
    Checksum,
    CarrierLost,  // the read ended on the modem's "NO CARRIER"
    CannotOpenPort,
    CannotReadPortState,
    CannotWritePortState,
    CannotSetTimeouts,
    ModemSilent,
    ModemAnswered,  // followed by the answer
    DialFailed,
    SocketLibrary,
    CannotCreateSocket,
    CannotResolve,
    CannotConnect,
    WriteConfig,
    WriteClock,
    WriteSerial,
    Write,
    ServiceCommand,
    Count
};

struct LinkErrorEntry {
    LinkError error;
    std::string_view text;
};

// Every text the link reports, in one table.
inline constexpr LinkErrorEntry kLinkErrorTexts[] = {
    {LinkError::Cancelled, "Отменено пользователем"},
    {LinkError::NoByte, "Не пришло ни одного байта"},
    {LinkError::Checksum, "Не сошлась контрольная сумма"},
    {LinkError::CarrierLost, "Модем ответил :NO CARRIER"},
    {LinkError::CannotOpenPort, "Невозможно открыть "},
    {LinkError::CannotReadPortState, "Ошибка чтения параметров порта"},
    {LinkError::CannotWritePortState, "Ошибка записи параметров порта"},
    {LinkError::CannotSetTimeouts, "Ошибка задания тайм-аутов"},
    {LinkError::ModemSilent, "Модем не отвечает"},
    {LinkError::ModemAnswered, "Модем ответил :"},
    {LinkError::DialFailed, "Попытка дозвона неудачна"},
    {LinkError::SocketLibrary, "Ошибка инициализации библиотеки Winsock"},
    {LinkError::CannotCreateSocket, "Невозможно создание сокета"},
    {LinkError::CannotResolve, "Невозможно получить адрес сервера"},
    {LinkError::CannotConnect, "Невозможно установить соединение"},
    {LinkError::WriteConfig, "Ошибка записи конфигурации!"},
    {LinkError::WriteClock, "Ошибка записи времени!"},
    {LinkError::WriteSerial, "Ошибка записи серийного номера!"},
    {LinkError::Write, "Ошибка записи!"},
    {LinkError::ServiceCommand, "Ошибка выполнения команды"},
};
constexpr bool LinkErrorTableInOrder() {
    for (std::size_t i = 0; i < std::size(kLinkErrorTexts); ++i)
        if (static_cast<std::size_t>(kLinkErrorTexts[i].error) != i) return false;
    return std::size(kLinkErrorTexts) == static_cast<std::size_t>(LinkError::Count);
}
static_assert(LinkErrorTableInOrder(), "every link error has its text, in the enum's order");

constexpr std::string_view LinkErrorText(LinkError e) {
    return kLinkErrorTexts[static_cast<std::size_t>(e)].text;
}

// The texts with a detail.
inline std::string LinkErrorText(LinkError e, std::string_view detail) {
    std::string s(LinkErrorText(e));
    s += detail;
    return s;
}
// "Неверный заголовок ответа: 85 вместо 170"
std::string BadHeaderText(std::uint8_t first);
// "Пришло 100 байт вместо 1962"
std::string LengthText(std::size_t got, std::size_t expected);
// "Команда не выполнена, код 3": a failure without a reason of its own.
std::string FailureCodeText(int status);

}  // namespace vir05
