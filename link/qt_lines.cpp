#include "link/qt_lines.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSerialPort>
#include <QTcpSocket>

#include "model/ports.h"

namespace vir05 {

QtSerialLine::QtSerialLine(std::string settingsPath, const LinkTiming& timing)
    : settingsPath_(std::move(settingsPath)), timing_(timing) {}

QtSerialLine::~QtSerialLine() {
    Close();
}

LineError QtSerialLine::Open(const LineTarget& target) {
    Close();
    if (target.pause)
        target.pause(target.pauseBeforeOpenMs);
    else
        RealSleep(target.pauseBeforeOpenMs);
    const std::string& portName = target.portName;
    const std::uint32_t baudRate = target.baudRate;
    IniFile settings;
    if (!settingsPath_.empty()) settings.Load(settingsPath_);
    device_ = ResolvePortDevice(portName, &settings);
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromStdString(device_));
    // Qt opens the device exclusively (a lock and TIOCEXCL), as the line must not be shared.
    if (device_.empty() || !port_->open(QIODevice::ReadWrite)) {
        port_.reset();
        return LineError::CannotOpen;
    }
    const bool framed = port_->setDataBits(QSerialPort::Data8) &&
                        port_->setParity(QSerialPort::NoParity) &&
                        port_->setStopBits(QSerialPort::TwoStop) &&
                        port_->setFlowControl(QSerialPort::NoFlowControl) &&
                        port_->setBaudRate(static_cast<qint32>(baudRate));
    if (!framed) {
        port_->close();
        port_.reset();
        return LineError::CannotApplyState;
    }
    // The lines are driven only on request: the modem script raises them, every close drops them.
    port_->setDataTerminalReady(false);
    port_->setRequestToSend(false);
    return LineError::None;
}

bool QtSerialLine::IsOpen() const {
    return port_ && port_->isOpen();
}

void QtSerialLine::Purge() {
    if (IsOpen()) port_->clear(QSerialPort::AllDirections);
}

void QtSerialLine::SetDtr(bool on) {
    if (IsOpen()) port_->setDataTerminalReady(on);
}

void QtSerialLine::SetRts(bool on) {
    if (IsOpen()) port_->setRequestToSend(on);
}

int QtSerialLine::Write(const std::uint8_t* data, std::size_t count) {
    if (!IsOpen()) return -1;
    const qint64 n = port_->write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
    if (n < 0) return -1;
    while (port_->bytesToWrite() > 0)
        if (!port_->waitForBytesWritten(timing_.serialWriteTimeoutMs)) break;
    return static_cast<int>(n);
}

int QtSerialLine::Read(std::uint8_t* buffer, std::size_t count) {
    if (!IsOpen() || count == 0) return 0;
    if (port_->bytesAvailable() == 0) port_->waitForReadyRead(timing_.serialReadTimeoutMs);
    const qint64 n = port_->read(reinterpret_cast<char*>(buffer), static_cast<qint64>(count));
    return n > 0 ? static_cast<int>(n) : 0;
}

void QtSerialLine::Close() {
    if (port_) {
        if (port_->isOpen()) port_->close();
        port_.reset();
    }
}

QtTcpLine::QtTcpLine(const LinkTiming& timing) : timing_(timing) {}

QtTcpLine::~QtTcpLine() {
    Close();
}

LineError QtTcpLine::Open(const LineTarget& target) {
    Close();
    target_ = target;
    const std::string& host = target.host;
    const std::uint16_t port = target.tcpPort;
    QHostAddress address;
    // A dotted address is used as it stands; anything else is looked up by name.
    if (!address.setAddress(QString::fromStdString(host)) ||
        address.protocol() != QAbstractSocket::IPv4Protocol) {
        const QHostInfo info = QHostInfo::fromName(QString::fromStdString(host));
        address = QHostAddress();
        for (const QHostAddress& a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                address = a;
                break;
            }
        if (info.error() != QHostInfo::NoError || address.isNull()) return LineError::Resolve;
    }
    socket_ = std::make_unique<QTcpSocket>();
    socket_->connectToHost(address, port);
    if (!socket_->waitForConnected(timing_.tcpConnectTimeoutMs)) {
        socket_.reset();
        return LineError::Connect;
    }
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return LineError::None;
}

bool QtTcpLine::IsOpen() const {
    return socket_ != nullptr;
}

int QtTcpLine::Write(const std::uint8_t* data, std::size_t count) {
    if (!socket_) return -1;
    return SendPaced([this](const std::uint8_t* d, std::size_t n) { return Send(d, n); }, target_,
                     data, count);
}

int QtTcpLine::Send(const std::uint8_t* data, std::size_t count) {
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) return -1;
    const qint64 n =
        socket_->write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
    if (n < 0) return -1;
    while (socket_->bytesToWrite() > 0)
        if (!socket_->waitForBytesWritten(timing_.tcpWriteTimeoutMs)) break;
    const qint64 left = socket_->bytesToWrite();
    return static_cast<int>(n - left);
}

int QtTcpLine::Read(std::uint8_t* buffer, std::size_t count) {
    if (!socket_) return 0;
    // Without an event loop, a zero wait is what moves arrived bytes into the socket's buffer.
    if (socket_->bytesAvailable() == 0 && socket_->state() == QAbstractSocket::ConnectedState)
        socket_->waitForReadyRead(0);
    if (socket_->bytesAvailable() == 0) return 0;
    const qint64 n = socket_->read(reinterpret_cast<char*>(buffer), static_cast<qint64>(count));
    return n < 0 ? 0 : static_cast<int>(n);
}

void QtTcpLine::Close() {
    if (socket_) {
        socket_->abort();
        socket_.reset();
    }
}

}  // namespace vir05
