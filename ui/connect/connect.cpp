#include "ui/connect/connect.h"

#include <QLineEdit>
#include <QSerialPortInfo>
#include <QShowEvent>
#include <QSignalBlocker>

#include "model/settings.h"
#include "ui_connect.h"

namespace vir05 {

namespace {

std::string Std(const QString& s) {
    return s.toStdString();
}
QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}

std::vector<std::string> Items(const QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i)
        items.push_back(Std(box->itemText(i)));
    return items;
}

// Replaces the list of an editable drop-down list. Changing the items of such a list makes it
// select an item and overwrite the edited text, so the text is put back afterwards.
void SetItemsKeepText(QComboBox* box, const QStringList& items) {
    const QString text = box->currentText();
    const QSignalBlocker block(box);
    box->clear();
    box->addItems(items);
    box->setEditText(text);
}

void SetItemsKeepText(QComboBox* box, const std::vector<std::string>& items) {
    QStringList list;
    for (const std::string& s : items)
        list << Qs(s);
    SetItemsKeepText(box, list);
}

}  // namespace

TFormConnect::TFormConnect(QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TFormConnect>()),
      portLister_([this] { return MachinePortNames(SettingsFile()); }) {
    ui_->setupUi(this);
    setModal(false);
    // The two settings groups share one place and the telephone row comes and goes with the
    // modem; hidden, they keep their room, so the dialog does not jump between transports.
    for (QWidget* w : {static_cast<QWidget*>(ui_->GroupRS), static_cast<QWidget*>(ui_->GroupTCP),
                       static_cast<QWidget*>(ui_->LabelNum), static_cast<QWidget*>(ui_->_Num)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    // The address field takes at most five typed characters.
    if (auto* edit = ui_->_NetAddr->findChild<QLineEdit*>()) edit->setMaxLength(5);

    connect(ui_->ButtonOk, &QPushButton::clicked, this, [this] { ButtonOkClick(ui_->ButtonOk); });
    connect(ui_->ButtonCancel, &QPushButton::clicked, this,
            [this] { ButtonCancelClick(ui_->ButtonCancel); });
    connect(ui_->Button1, &QPushButton::clicked, this, [this] {
        Button1Click(ui_->Button1);
        emit portBrowserRequested();
    });
    connect(ui_->ShowFull, &QPushButton::clicked, this, [this] { ShowFullClick(ui_->ShowFull); });
    // Checking a radio button, by a click or by code (a load, the command-line values), shows
    // the settings of that transport.
    for (QRadioButton* b : {ui_->RS, ui_->TCP, ui_->Modem})
        connect(b, &QRadioButton::toggled, this, [this, b](bool on) {
            if (on) RSClick(b);
        });

    ModulSet();
    RSClick();
}

TFormConnect::~TFormConnect() = default;

void TFormConnect::SetCommandLine(const CommandLine& cl, int commandLineConnect) {
    commandLine_ = cl;
    commandLineConnect_ = commandLineConnect;
    ModulSet();
}

QStringList TFormConnect::MachinePortNames(const std::string& settingsPath) {
    IniFile settings;
    settings.Load(settingsPath);
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = Qs(PortChoiceName(Std(info.systemLocation()), &settings));
        if (!names.contains(name)) names << name;
    }
    return names;
}

void TFormConnect::showEvent(QShowEvent* event) {
    // A window restored from the task bar is not a new opening.
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TFormConnect::FormShow() {
    SetItemsKeepText(ui_->_Port, portLister_ ? portLister_() : QStringList());
    ButtonCancelClick(nullptr);
    RSClick();
}

void TFormConnect::CloseIfSender(QObject* sender) {
    if (sender) close();
}

Transport TFormConnect::ChosenTransport() const {
    if (ui_->TCP->isChecked()) return Transport::Tcp;
    if (ui_->Modem->isChecked()) return Transport::Modem;
    return Transport::Rs485;
}

ConnectSettings TFormConnect::ReadControls() const {
    ConnectSettings s;
    s.transport = ChosenTransport();
    s.port = Std(ui_->_Port->currentText());
    s.num = Std(ui_->_Num->currentText());
    s.numHistory = Items(ui_->_Num);
    s.baudRate = Std(ui_->_BaudRate->currentText());
    s.netAddr = ui_->_NetAddr->value();
    s.ipPort = Std(ui_->_IP_port->currentText());
    s.ipAddr = Std(ui_->_IP_addr->currentText());
    s.ipAddrHistory = Items(ui_->_IP_addr);
    s.pinCode = Std(ui_->PinCode->text());
    return s;
}

void TFormConnect::WriteHistories(const ConnectSettings& s) {
    SetItemsKeepText(ui_->_Num, s.numHistory);
    SetItemsKeepText(ui_->_IP_addr, s.ipAddrHistory);
}

void TFormConnect::ButtonCancelClick(QObject* sender) {
    IniFile ini;
    ini.Load(SettingsFile());  // a missing file gives the defaults
    ConnectSettings s = ReadControls();
    LoadConnectSettings(ini, s);
    if (s.transport) {
        switch (*s.transport) {
            case Transport::Rs485:
                ui_->RS->setChecked(true);
                break;
            case Transport::Tcp:
                ui_->TCP->setChecked(true);
                break;
            case Transport::Modem:
                ui_->Modem->setChecked(true);
                break;
        }
    }
    ui_->_Port->setEditText(Qs(s.port));
    ui_->_BaudRate->setEditText(Qs(s.baudRate));
    ui_->PinCode->setText(Qs(s.pinCode));
    ui_->_Num->setEditText(Qs(s.num));
    ui_->_NetAddr->setValue(s.netAddr);  // the field clamps it to 0..255
    ui_->_IP_port->setEditText(Qs(s.ipPort));
    ui_->_IP_addr->setEditText(Qs(s.ipAddr));
    WriteHistories(s);

    if (commandLineConnect_ != 0) {
        ModulSet();
        return;
    }
    ShowFullClick();
    CloseIfSender(sender);
}

void TFormConnect::ButtonOkClick(QObject* sender) {
    const std::string path = SettingsFile();
    IniFile ini;
    ini.Load(path);  // keys of others survive the write below
    ConnectSettings s = ReadControls();
    StoreConnectSettings(ini, s);
    WriteHistories(s);
    ini.Save(path);  // a failed write leaves the controls in force; nothing is reported

    commandLineConnect_ = 0;
    ShowFullClick();
    CloseIfSender(sender);
}

void TFormConnect::RSClick(QObject*) {
    const bool tcp = ui_->TCP->isChecked();
    const bool modem = ui_->Modem->isChecked();
    ui_->GroupRS->setVisible(!tcp);
    ui_->GroupTCP->setVisible(tcp);
    ui_->LabelNum->setVisible(modem);
    ui_->_Num->setVisible(modem);
}

void TFormConnect::Button1Click(QObject*) {
    SetItemsKeepText(ui_->_Port, portLister_ ? portLister_() : QStringList());
}

void TFormConnect::ModulSet(QObject*) {
    const CommandLine& cl = commandLine_;
    ui_->RS->setChecked(true);
    if (!cl.phone.empty()) ui_->Modem->setChecked(true);
    if (!cl.host.empty()) ui_->TCP->setChecked(true);  // a host wins over a number
    ui_->_Port->setEditText(Qs(cl.PortName()));
    ui_->_IP_addr->setEditText(Qs(cl.host));
    ui_->_IP_port->setEditText(QString::number(cl.tcpPort));
    ui_->_Num->setEditText(Qs(cl.phone));
    ui_->_NetAddr->setValue(cl.NetAddress());  // not a number: 0; the field clamps to 0..255
    ui_->_BaudRate->setEditText(QString::number(cl.baudRate));
}

void TFormConnect::ShowFullClick(QObject*) {
    serviceMode_ = IsServiceCode(Std(ui_->PinCode->text()));
    emit ServiceModeChanged(serviceMode_);
}

ConnectionTexts TFormConnect::Texts() const {
    ConnectionTexts t;
    t.transport = ChosenTransport();
    t.host = Std(ui_->_IP_addr->currentText());
    t.tcpPort = Std(ui_->_IP_port->currentText());
    t.netAddr = std::to_string(ui_->_NetAddr->value());
    t.port = Std(ui_->_Port->currentText());
    t.phone = Std(ui_->_Num->currentText());
    t.baudRate = Std(ui_->_BaudRate->currentText());
    return t;
}

vir05::ConnectionValues TFormConnect::ConnectionValues() const {
    return CommandConnection(Texts());
}

vir05::ConnectionValues TFormConnect::ServiceConnectionValues() const {
    return ServiceConnection(Texts());
}

QString TFormConnect::PinCodeText() const {
    return ui_->PinCode->text();
}

void TFormConnect::FocusPinCode() {
    ui_->PinCode->setFocus();
}

void TFormConnect::SetPortText(const QString& port) {
    ui_->_Port->setEditText(port);
}

}  // namespace vir05
