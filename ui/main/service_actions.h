// The service page's actions: calibrations, archive erase, clock, serial number and reboot.
//
// Every action asks first ("Подтвердите операцию", OK and Cancel), prepares the device image
// where the command needs it, starts one link command and sets the progress caption. The end of
// the command belongs to the command cycle. The actions reach the rest of the program only
// through the hooks below, so they do not depend on the window session.
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

inline constexpr const char* kConfirmTitle = "Подтвердите операцию";
inline constexpr std::int32_t kDefaultSerialNumber = 500001;

struct ServiceHooks {
    // Starts `command`: on the COM port whatever transport is chosen when `serialLine` is set
    // (the serial-number write and the service codes), otherwise over the chosen transport.
    // The receiver also enables the command cycle's timer.
    std::function<void(int command, bool serialLine)> start;
    std::function<void(const QString&)> setCaption;
    // Hides the tool panel with the read and write buttons until the command cycle ends.
    std::function<void()> hideReadPanel;
    // The connection dialog's texts now (the captions name the port and the address).
    std::function<ConnectionTexts()> texts;
    // An OK/Cancel question; true for OK. Empty: a message box titled kConfirmTitle.
    std::function<bool(const QString&)> confirm;
    // Whether the link is running a command. The image is the link's while it runs, so the
    // serial-number write then leaves DevNumber alone; its start only cancels the running
    // command, as every start does while the link is busy. Empty: never busy.
    std::function<bool()> linkBusy;
    // Told when an arrow of SerialN chose a new number for NextSerial (the caption's text).
    std::function<void(const std::string&)> nextSerialChosen;
};

// The hooks of the main window and the connection dialog: the caption and the tool panel of
// `window`, the texts of `connection`, the message box for the questions. `start` is the
// caller's, since the command cycle's timer is its own.
ServiceHooks WindowServiceHooks(TFormCfg& window, TFormConnect& connection,
                                std::function<void(int command, bool serialLine)> start);

// The modal OK/Cancel question of every service action.
bool ConfirmOperation(QWidget* parent, const QString& text);

class ServiceActions : public QObject {
    Q_OBJECT

  public:
    // `pages` holds the service page's controls by name (Klb_KZ, Klb_100, ClrStat, SetTime,
    // SerialN, NextSerial, Reset); their clicks are connected to the handlers. `image` is the
    // device image whose DevNumber the serial-number write sends.
    ServiceActions(QWidget* pages, std::uint8_t* image, ServiceHooks hooks,
                   QObject* parent = nullptr);

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

    QWidget* pages_;
    std::uint8_t* image_;
    ServiceHooks hooks_;
    QSpinBox* serialN_ = nullptr;
    QPushButton* nextSerial_ = nullptr;
    bool arrowPressed_ = false;
    std::optional<std::int32_t> serialBefore_;  // DevNumber before the running serial write
};

}  // namespace vir05
