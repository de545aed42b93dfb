// The status bar under the pages: which line is used, what runs now and for how long, and what
// the values shown are (read when, opened from which file, or nothing yet).
//
// The window's caption stays the status line the program has always had; this bar says the
// same in more words and keeps saying it after the caption has moved on. StatusText holds the
// texts as plain data, StatusLine shows them in a QStatusBar.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "ui/connect/connection.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace vir05 {

// "TCP 127.0.0.1:10001, адрес 1", "COM3 (/dev/ttyUSB0) 9600 бод, адрес 1",
// "модем 5551234 через COM1 (/dev/ttyS0) 9600 бод, адрес 1". `device` is the device the port
// text names here (empty: not shown).
QString LineText(const ConnectionValues& line, const std::string& device);
// Seconds with one decimal and a decimal comma: "1,1 с", "0,0 с", "125,4 с".
QString SecondsText(double seconds);
// What a command does, as the bar says it while it runs: "Чтение текущих значений", ...
QString CommandText(int command);

class StatusText {
  public:
    // The texts of the three fields.
    QString Line() const { return line_; }
    QString Activity() const { return activity_; }
    QString Data() const { return data_; }
    // The values shown are those of an earlier read than the last one tried.
    bool Stale() const { return stale_; }

    void SetLine(const QString& line) { line_ = line; }
    void Started(int command);
    void Running(double seconds);
    // `status` as the link reports it (0 success, -1 stopped, other: failure); `tookOverRead`
    // when the command brought new values; `errorText` the link's text of a failure.
    void Finished(int status, double seconds, bool tookOverRead, const QString& now,
                  const QString& errorText = QString());
    void Opened(const QString& file);

  private:
    QString line_;
    QString activity_ = QStringLiteral("Готов");
    QString data_ = QStringLiteral(
        "Нет данных: выберите линию в «Подключение» и нажмите «Прочитать текущие» (F5)");
    QString shownSince_;  // what the values shown are, once there are any
    bool stale_ = false;
    int command_ = 0;
};

class StatusLine : public QObject {
    Q_OBJECT

  public:
    // Adds its fields to `bar`; `device` finds the device of a port text.
    StatusLine(QStatusBar* bar, std::function<std::string(const std::string&)> device,
               QObject* parent = nullptr);

    void SetLine(const ConnectionValues& line);
    void Started(int command, const ConnectionValues& line);
    // Called by the command cycle's tick: the elapsed time, shown in tenths of a second.
    void Tick();
    void Finished(int status, double seconds, bool tookOverRead, const QString& errorText);
    void Opened(const QString& file);
    // The line is shown anew whenever `dialog` closes, as `values` gives it then.
    void FollowDialog(QWidget* dialog, std::function<ConnectionValues()> values);

    const StatusText& Text() const { return text_; }
    QLabel* LineLabel() const { return line_; }
    QLabel* ActivityLabel() const { return activity_; }
    QLabel* DataLabel() const { return data_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Show();

    std::function<std::string(const std::string&)> device_;
    QWidget* dialog_ = nullptr;
    std::function<ConnectionValues()> dialogValues_;
    StatusText text_;
    QLabel* line_ = nullptr;
    QLabel* activity_ = nullptr;
    QLabel* data_ = nullptr;
    QElapsedTimer running_;
    int shownTenths_ = -1;
};

}  // namespace vir05
