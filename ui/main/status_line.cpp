#include "ui/main/status_line.h"

#include <QEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTime>
#include <cmath>

#include "core/protocol/commands.h"

namespace vir05 {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString DeviceSuffix(const std::string& port, const std::string& device) {
    if (device.empty() || device == port) return {};
    return " (" + Q(device) + ")";
}

}  // namespace

QString LineText(const ConnectionValues& line, const std::string& device) {
    const QString address = QStringLiteral(", адрес %1").arg(line.netAddr);
    if (line.IsTcp())
        return QStringLiteral("TCP %1:%2").arg(Q(line.host)).arg(line.tcpPort) + address;
    const QString serial = Q(line.port) + DeviceSuffix(line.port, device) +
                           QStringLiteral(" %1 бод").arg(line.baudRate);
    if (!line.phone.empty()) return "модем " + Q(line.phone) + " через " + serial + address;
    return serial + address;
}

QString SecondsText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    return QString::number(seconds, 'f', 1).replace('.', ',') + QStringLiteral(" с");
}

QString CommandText(int command) {
    switch (command) {
        case command::ReadCurrent:
            return QStringLiteral("Чтение текущих значений");
        case command::ReadArchive:
            return QStringLiteral("Чтение архива");
        case command::WriteConfig:
            return QStringLiteral("Запись конфигурации");
        case command::SetClock:
            return QStringLiteral("Установка часов прибора");
        case command::WriteSerial:
            return QStringLiteral("Запись серийного номера");
        case command::EmulatorStep:
            return QStringLiteral("Эмуляция: обмен с прибором");
        default:
            return QStringLiteral("Сервисная команда");
    }
}

void StatusText::Started(int command) {
    command_ = command;
    activity_ = CommandText(command) + QStringLiteral("…");
}

void StatusText::Running(double seconds) {
    activity_ = CommandText(command_) + QStringLiteral("… ") + SecondsText(seconds);
}

void StatusText::Finished(int status, double seconds, bool tookOverRead, const QString& now,
                          const QString& errorText) {
    const QString what = CommandText(command_);
    if (status == link_status::Success) {
        activity_ = what + QStringLiteral(": выполнено за ") + SecondsText(seconds);
        if (tookOverRead) {
            shownSince_ = QStringLiteral("прочитаны в ") + now;
            data_ = QStringLiteral("Значения прочитаны в ") + now;
            stale_ = false;
        }
        return;
    }
    activity_ = status == link_status::Cancelled
                    ? what + QStringLiteral(": остановлено")
                    : what + QStringLiteral(": ошибка после ") + SecondsText(seconds);
    if (status != link_status::Cancelled && !errorText.isEmpty())
        activity_ += QStringLiteral(" — ") + errorText;
    // Only a read changes what the values are; a stopped or failed write leaves them as they were.
    if (command_ != command::ReadCurrent && command_ != command::ReadArchive) return;
    if (shownSince_.isEmpty()) return;
    stale_ = true;
    data_ = QStringLiteral("Показаны значения последнего успешного чтения: ") + shownSince_;
}

void StatusText::Opened(const QString& file) {
    shownSince_ = QStringLiteral("из файла ") + file;
    data_ = QStringLiteral("Показаны значения из файла ") + file;
    stale_ = false;
}

StatusLine::StatusLine(QStatusBar* bar, std::function<std::string(const std::string&)> device,
                       QObject* parent)
    : QObject(parent), device_(std::move(device)) {
    line_ = new QLabel(bar);
    line_->setObjectName("StatusLine");
    line_->setToolTip(QStringLiteral("Линия связи с прибором (меню «Подключение»)"));
    activity_ = new QLabel(bar);
    activity_->setObjectName("StatusActivity");
    activity_->setToolTip(QStringLiteral("Что выполняется сейчас и сколько это длится"));
    data_ = new QLabel(bar);
    data_->setObjectName("StatusData");
    data_->setToolTip(QStringLiteral("Откуда взяты показанные значения"));
    if (bar) {
        bar->addWidget(line_);
        bar->addWidget(activity_, 1);
        bar->addPermanentWidget(data_);
    }
    Show();
}

void StatusLine::SetLine(const ConnectionValues& line) {
    text_.SetLine(LineText(line, line.IsTcp() || !device_ ? std::string() : device_(line.port)));
    Show();
}

void StatusLine::Started(int command, const ConnectionValues& line) {
    SetLine(line);
    text_.Started(command);
    running_.start();
    shownTenths_ = 0;
    Show();
}

void StatusLine::Tick() {
    if (!running_.isValid()) return;
    const int tenths = int(running_.elapsed() / 100);
    if (tenths == shownTenths_) return;
    shownTenths_ = tenths;
    text_.Running(tenths / 10.0);
    Show();
}

void StatusLine::Finished(int status, double seconds, bool tookOverRead, const QString& errorText) {
    running_.invalidate();
    text_.Finished(status, seconds, tookOverRead, QTime::currentTime().toString("HH:mm:ss"),
                   errorText);
    Show();
}

void StatusLine::Opened(const QString& file) {
    text_.Opened(file);
    Show();
}

void StatusLine::FollowDialog(QWidget* dialog, std::function<ConnectionValues()> values) {
    dialog_ = dialog;
    dialogValues_ = std::move(values);
    if (dialog_) dialog_->installEventFilter(this);
}

bool StatusLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched == dialog_ && event->type() == QEvent::Hide && dialogValues_)
        SetLine(dialogValues_());
    return QObject::eventFilter(watched, event);
}

void StatusLine::Show() {
    line_->setText(text_.Line());
    activity_->setText(text_.Activity());
    data_->setText(text_.Data());
    // Old values must not pass for new ones: the field stands out while they are shown.
    data_->setStyleSheet(text_.Stale() ? QStringLiteral("QLabel { color: #a00000; font-weight: "
                                                        "bold; }")
                                       : QString());
}

}  // namespace vir05
