// The request of the link thread and its working state.
//
// The user-interface thread fills the request only while the link is parked. While a command
// runs it only stores 0 into `Command` (cancel) and 1 into `SkipWait`, may set `ArchiveSlots`
// right after a start, and reads `Status`, `ErrorCount` and the progress cell: those cells are
// atomic. Everything else belongs to the link thread until it parks again; `ErrorText` is also
// read by the caption step that the link runs on the user-interface thread while it waits.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/protocol/commands.h"
#include "core/protocol/unpack.h"
#include "model/layout.h"

namespace vir05 {

inline constexpr std::size_t kRxBufferSize = kReceiveAreaSize;  // 262144
// Room past the end of a receive buffer: the decoder finishes the input byte it was given, so a
// byte taken at count wanted - 1 may put up to kUnpackMaxOutput bytes from there, and the
// receive loop stores a zero byte just after the last byte.
inline constexpr std::size_t kRxBufferSlack = kUnpackMaxOutput + 1;
inline constexpr std::uint32_t kDefaultArchiveSlots = 8192;
inline constexpr std::uint32_t kInitialReplyTicks = 20;

struct LinkRequest {
    using Clock = std::chrono::system_clock;
    using Days = std::chrono::duration<double, std::ratio<86400>>;

    // Receive buffer of every reply; an archive block is assembled at its ring offset in it.
    std::array<std::uint8_t, kRxBufferSize + kRxBufferSlack> RxBuffer{};
    static_assert(sizeof(RxBuffer) >= kRxBufferSize + kUnpackMaxOutput + 1,
                  "the decoder's overrun and the spare zero byte must fit past the wanted count");

    // Where a successful read copies its result (a 262144-byte ReceiveArea); null: not copied.
    std::uint8_t* Destination = nullptr;
    // Progress 0..100 of the running command; points at OwnProgress until the first start.
    std::atomic<std::uint8_t> OwnProgress{0};
    std::atomic<std::uint8_t>* Progress = &OwnProgress;

    std::atomic<std::int32_t> Status{0};
    std::uint32_t ReplyTicks = kInitialReplyTicks;  // reply wait in ticks
    std::int32_t RewriteAll = 0;           // non-zero: a configuration write sends every byte
    std::atomic<std::int32_t> Command{0};  // running command; 0 = cancelled or idle
    std::string Phone;                     // empty: no modem
    std::string PortName;                  // such as "COM1"
    std::int32_t StartCommand = 0;         // command as started; not read by the link
    std::string ErrorText;
    std::int32_t NetAddr = 0;  // only the low 8 bits are sent
    std::uint32_t BaudRate = 9600;
    std::int32_t TcpPort = 0;  // only the low 16 bits are used
    std::int32_t UseTcp = 0;   // 1: TCP; 0: serial line or modem
    std::string Host;
    std::atomic<std::int32_t> ErrorCount{0};  // failed exchanges of the current command
    std::atomic<std::int32_t> SkipWait{0};    // set by the user interface to end a wait at once
    std::atomic<std::int32_t> ArchiveSlots{kDefaultArchiveSlots};
    bool Unpack = false;  // the receive loop decodes compressed data
    Clock::time_point StartTime{};
    Clock::duration Duration{};
    ::vir05::UnpackState UnpackState{};  // decoder state of the compressed archive data
    // An archive read: blocks it planned and blocks it read. A read the user stopped after some
    // blocks ends with status 0; `ArchiveStopped` tells it from a complete one.
    std::int32_t ArchiveBlocksPlanned = 0;
    std::int32_t ArchiveBlocksRead = 0;
    bool ArchiveStopped = false;

    double DurationDays() const { return std::chrono::duration_cast<Days>(Duration).count(); }

    // Fills the request for a TCP transaction (the link must be parked).
    void FillTcp(int cmd, const std::string& host, int tcpPort, int netAddr,
                 std::uint8_t* destination, std::atomic<std::uint8_t>* progress) {
        Unpack = false;
        UseTcp = 1;
        Command = cmd;
        StartCommand = cmd;
        Destination = destination;
        Progress = progress ? progress : &OwnProgress;
        TcpPort = tcpPort;
        Host = host;
        NetAddr = netAddr;
        ArchiveSlots = static_cast<std::int32_t>(kDefaultArchiveSlots);
        Status = link_status::Success;
        ErrorText.clear();
        Phone.clear();
    }

    // Fills the request for a serial line, dialled first when `phone` is not empty.
    void FillSerial(int cmd, const std::string& portName, int netAddr, const std::string& phone,
                    std::uint32_t baudRate, std::uint8_t* destination,
                    std::atomic<std::uint8_t>* progress) {
        ArchiveSlots = static_cast<std::int32_t>(kDefaultArchiveSlots);
        UseTcp = 0;
        Command = cmd;
        StartCommand = cmd;
        Destination = destination;
        Progress = progress ? progress : &OwnProgress;
        PortName = portName;
        Phone = phone;
        NetAddr = netAddr;
        BaudRate = baudRate;
        Status = link_status::Success;
        ErrorText.clear();
    }
};

}  // namespace vir05
