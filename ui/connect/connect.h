// The connection settings dialog: transport, port, baud rate, telephone number, host and TCP
// port, the controller's network address and the PIN code.
//
// The dialog is the one live holder of these parameters: a command start reads its controls at
// that moment (ConnectionValues), so edits count at once, saved or not. It keeps them in the
// settings file with the remembered telephone numbers and host addresses, and decides from the
// PIN field whether the tool runs in service mode.
//
// Handlers are named after control and event. Other code calls them with no sender to reuse
// their logic; a handler closes the dialog only when it was called with a sender.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "core/cmdline.h"
#include "ui/connect/connection.h"

class QComboBox;
class QShowEvent;

namespace Ui {
class TFormConnect;
}

namespace vir05 {

class TFormConnect : public QDialog {
    Q_OBJECT

  public:
    // Built from its form, then takes the command-line values with their defaults (COM1, 9600,
    // address 0, no host, no number), as it does at application start.
    explicit TFormConnect(QWidget* parent = nullptr);
    ~TFormConnect() override;

    // The directory of the executable with its trailing separator; the settings file is this
    // directory followed by "vir05.ini". Empty until set: the file is then relative to the
    // working directory.
    void SetProgramDir(const std::string& dir) { programDir_ = dir; }
    const std::string& ProgramDir() const { return programDir_; }
    std::string SettingsFile() const { return SettingsPath(programDir_); }

    // The command-line connection values and CommandLineConnect (the run flags as the command
    // line left them). The values go into the controls at once, as at creation. While the flag
    // is non-zero, a load restores these values instead of the saved ones; "ОК" clears it.
    void SetCommandLine(const CommandLine& cl, int commandLineConnect);
    int CommandLineConnect() const { return commandLineConnect_; }

    // Where the port list comes from. By default the machine's serial ports (MachinePortNames);
    // the COM port browser replaces it with its own list.
    using PortLister = std::function<QStringList()>;
    void SetPortLister(PortLister lister) { portLister_ = std::move(lister); }
    // Every serial port of the machine under the name the user picks it by: "COMn" when a port
    // text of that form reaches the device (through the COMn keys of `settingsPath`), else its
    // device path.
    static QStringList MachinePortNames(const std::string& settingsPath);

    // Runs each time the dialog becomes visible: fresh port list, settings reloaded (unsaved
    // edits are dropped), transport view.
    void FormShow();
    // Saves every setting, clears CommandLineConnect, applies the gating, closes with a sender.
    void ButtonOkClick(QObject* sender);
    // Reloads every setting and applies the gating, closing with a sender. In command-line mode
    // it puts the command-line values back instead and neither gates nor closes.
    void ButtonCancelClick(QObject* sender);
    // Shows the settings group of the chosen transport (all three radio buttons).
    void RSClick(QObject* sender = nullptr);
    // "?": refreshes the port list, keeping the port text.
    void Button1Click(QObject* sender = nullptr);
    // Puts the command-line connection values into the controls.
    void ModulSet(QObject* sender = nullptr);
    // Service-code gating: service mode exactly when the PIN field holds the access code.
    // Emits ServiceModeChanged every time, so the window can bring its pages and write
    // controls in line whatever state they started in.
    void ShowFullClick(QObject* sender = nullptr);

    // The state the last gating decided.
    bool ServiceMode() const { return serviceMode_; }

    Transport ChosenTransport() const;
    ConnectionTexts Texts() const;
    // The arguments of a command start, read from the controls now.
    vir05::ConnectionValues ConnectionValues() const;
    // The same for the serial-number write and the service commands: always the COM port.
    vir05::ConnectionValues ServiceConnectionValues() const;
    QString PinCodeText() const;
    void FocusPinCode();
    // The port a browser chose, as if typed.
    void SetPortText(const QString& port);

  signals:
    void ServiceModeChanged(bool on);
    // "?" was clicked (after the list was refreshed): the user wants the port browser.
    void portBrowserRequested();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CloseIfSender(QObject* sender);
    ConnectSettings ReadControls() const;
    void WriteHistories(const ConnectSettings& s);

    std::unique_ptr<Ui::TFormConnect> ui_;
    std::string programDir_;
    CommandLine commandLine_;
    int commandLineConnect_ = 0;
    bool serviceMode_ = false;
    PortLister portLister_;
};

}  // namespace vir05
