// The service page's actions: calibrations, archive erase, clock, serial number and reboot.
//
// Every action asks first ("Подтвердите операцию", OK and Cancel), prepares the device image
// where the command needs it, asks for one link command (serviceCommandRequested) and sets the
// progress caption. Starting the command and its end belong to the command cycle. What the
// actions need to know (the connection's texts, whether the link is busy) they ask through the
// queries below, so they do not depend on the window session.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/connect/connection.h"

class QPushButton;
class QSpinBox;
class QWidget;

namespace vir05 {

class TFormCfg;
class TFormConnect;
class PageService;
struct MemoryAreas;

inline constexpr const char* kConfirmTitle = "Подтвердите операцию";
inline constexpr std::int32_t kDefaultSerialNumber = 500001;

// What the actions ask of the rest of the program.
struct ServiceQueries {
    // The connection dialog's texts now (the captions name the port and the address).
    std::function<ConnectionTexts()> texts;
    // An OK/Cancel question; true for OK. Empty: a message box titled kConfirmTitle.
    std::function<bool(const QString&)> confirm;
    // Whether the link is running a command. The image is the link's while it runs, so the
    // serial-number write then leaves DevNumber alone; its start only cancels the running
    // command, as every start does while the link is busy. Empty: never busy.
    std::function<bool()> linkBusy;
};

class ServiceActions;

// Wires `actions` to the main window and the connection dialog: the caption is the window's
// title, a requested command hides the tool panel with the read and write buttons until the
// command cycle ends, the texts are those of `connection`, the questions are message boxes.
// Starting the command stays the caller's, since the command cycle is its own.
void WireServiceToWindow(ServiceActions& actions, TFormCfg& window, TFormConnect& connection);

// The modal OK/Cancel question of every service action.
bool ConfirmOperation(QWidget* parent, const QString& text);

class ServiceActions : public QObject {
    Q_OBJECT

  public:
    // `page`'s requests (Klb_KZ, Klb_100, ClrStat, SetTime, NextSerial, Reset) are connected
    // to the handlers, and SerialN's arrows choose NextSerial's number; without a page only the
    // handlers remain. `image` is the device image whose DevNumber the serial-number write
    // sends.
    ServiceActions(PageService* page, std::uint8_t* image, ServiceQueries queries = {},
                   QObject* parent = nullptr);
    void SetQueries(ServiceQueries queries) { queries_ = std::move(queries); }
    const ServiceQueries& Queries() const { return queries_; }

    void Klb_KZClick();
    void Klb_100Click();
    void ClrStatClick();
    void SetTimeClick();
    void NextSerialClick();
    void ResetClick();
    // An arrow of SerialN was clicked: NextSerial's caption becomes SerialN's value.
    void SerialNClick();
    // The serial-number write has ended: when it did not succeed, DevNumber in the image gets
    // back the number it held before, so that no later write sends the number that failed.
    void SerialWriteEnded(bool succeeded);

  signals:
    // Start `command`: on the COM port whatever transport is chosen when `serialLine` is set
    // (the serial-number write and the service codes), otherwise over the chosen transport.
    void serviceCommandRequested(int command, bool serialLine);
    // The progress caption of the command asked for, or why nothing was asked.
    void captionChanged(const QString& text);
    // An arrow of SerialN chose a new number for NextSerial (the caption's text).
    void nextSerialChosen(const std::string& number);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool Confirm(const QString& text) const;
    // " (RS485 COMn" when a command that always uses the serial line goes there while another
    // connection is chosen in the dialog; empty otherwise.
    static std::string SerialLineNote(const ConnectionTexts& t, bool serialLine);
    // Starts `command` and shows `prefix` followed by "<port>, Адр:<address>)".
    void Run(int command, bool serialLine, const std::string& prefix);
    void Action(const QString& question, int command, bool serialLine, const std::string& prefix);
    QString NextSerialText() const;

    QWidget* page_;
    std::uint8_t* image_;
    ServiceQueries queries_;
    QSpinBox* serialN_ = nullptr;
    QPushButton* nextSerial_ = nullptr;
    bool arrowPressed_ = false;
    std::optional<std::int32_t> serialBefore_;  // DevNumber before the running serial write
};

}  // namespace vir05
