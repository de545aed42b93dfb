// The real lines of the link: a serial port (direct RS485 adapter or modem) over Qt SerialPort,
// and TCP over Qt Network. Both are used only from the link thread, which has no event loop:
// every wait is one of Qt's blocking waits, bounded by the times given here.
#pragma once

#include <memory>
#include <string>

#include "core/protocol/byte_line.h"
#include "core/protocol/timing.h"
#include "model/settings.h"

class QSerialPort;
class QTcpSocket;

namespace vir05 {

class QtSerialLine : public ByteLine {
  public:
    // `settings` maps "COMn" texts to devices (see model/ports.h); it is read at every open.
    explicit QtSerialLine(std::string settingsPath = {},
                          const LinkTiming& timing = LinkTiming::Default());
    ~QtSerialLine() override;

    LineKind Kind() const override { return LineKind::Serial; }
    LineError Open(const LineTarget& target) override;
    bool IsOpen() const override;
    void Purge() override;
    void SetDtr(bool on) override;
    void SetRts(bool on) override;
    int Write(const std::uint8_t* data, std::size_t count) override;
    int Read(std::uint8_t* buffer, std::size_t count) override;
    void Close() override;

    // The device the last Open used.
    const std::string& Device() const { return device_; }

  private:
    std::string settingsPath_;
    LinkTiming timing_;
    std::unique_ptr<QSerialPort> port_;
    std::string device_;
};

class QtTcpLine : public ByteLine {
  public:
    explicit QtTcpLine(const LinkTiming& timing = LinkTiming::Default());
    ~QtTcpLine() override;

    LineKind Kind() const override { return LineKind::Tcp; }
    LineError Open(const LineTarget& target) override;
    bool IsOpen() const override;
    // Paced as the target says; a short send is completed once.
    int Write(const std::uint8_t* data, std::size_t count) override;
    // Never waits: returns 0 when no byte has arrived.
    int Read(std::uint8_t* buffer, std::size_t count) override;
    void Purge() override {}
    void SetDtr(bool) override {}
    void SetRts(bool) override {}
    void Close() override;

  private:
    int Send(const std::uint8_t* data, std::size_t count);
    LinkTiming timing_;
    LineTarget target_;
    std::unique_ptr<QTcpSocket> socket_;
};

}  // namespace vir05
