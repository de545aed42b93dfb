// The browser of the machine's serial devices: a tree of the port classes and their present
// devices, the details of the chosen entry, and the port list that the connection dialog offers.
//
// The window is created hidden at start; 200 ms later it fills itself once, so the connection
// dialog has a port list before the browser was ever shown. Button1Click refreshes; the port
// list (the hidden Memo1, one name per line) is read right after. The browser never writes into
// the dialog: the user picks the port in the dialog's own list.
#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/device_list.h"

class QTreeWidgetItem;

namespace Ui {
class TFormComPort;
}

namespace vir05 {

class TFormConnect;

class TFormComPort : public QWidget {
    Q_OBJECT

  public:
    // Where the devices come from. By default the machine's own (MachineDevices with the
    // settings file of SetSettingsFile); tests give a fixed list.
    using DeviceSource = std::function<std::vector<DeviceRecord>()>;

    explicit TFormComPort(QWidget* parent = nullptr);
    ~TFormComPort() override;

    void SetDeviceSource(DeviceSource source) { source_ = std::move(source); }
    // The settings file whose COMn keys name the ports, asked at each refresh (the program
    // directory is known only once the main window is shown).
    void SetSettingsFile(std::function<std::string()> path) { settingsPath_ = std::move(path); }

    // Refresh: the wait notice, the tree and port list rebuilt, the details emptied. A call
    // while a refresh runs (from the repaint between classes) does nothing.
    void Button1Click(QObject* sender = nullptr);
    // Shows the details of the selected entry in ListBox1.
    void TreeView1Click();
    // The first refresh: stops the timer and refreshes.
    void Timer1Timer();

    // The lines of Memo1.
    QStringList PortNames() const;
    // The port text of a device entry, as the port list gives it; empty for other entries.
    QString PortOfItem(const QTreeWidgetItem* item) const;

  signals:
    // A double click on a device: its port is chosen.
    void PortChosen(const QString& port);

  public:
    // Shows the window without blocking, raised over the others.
    void ShowBrowser();
    bool Refreshing() const { return refreshing_; }

    // The machine's serial devices: the tty devices with a driver, joined by the ports the
    // serial-port service reports that the device tree does not show.
    static std::vector<DeviceRecord> MachineDevices(const std::string& settingsPath);

  private:
    void Clear();
    void BuildTree();

    std::unique_ptr<Ui::TFormComPort> ui_;
    QTimer Timer1;
    DeviceSource source_;
    std::function<std::string()> settingsPath_;
    // The data behind the tree entries, owned here and dropped at each refresh.
    std::vector<DeviceTreeClass> tree_;
    bool refreshing_ = false;
};

// Wires the browser to the connection dialog: the dialog's port list comes from a fresh
// refresh of the browser, and the browser reads the dialog's settings file.
void AttachComPortBrowser(TFormConnect& dialog, TFormComPort& browser);

}  // namespace vir05
