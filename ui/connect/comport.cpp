#include "ui/connect/comport.h"

#include <QApplication>
#include <QSerialPortInfo>
#include <QStyle>
#include <QTreeWidgetItem>
#include <algorithm>

#include "model/settings.h"
#include "ui/connect/connect.h"
#include "ui_comport.h"

namespace vir05 {

namespace {

QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}
std::string Std(const QString& s) {
    return s.toStdString();
}

// What each tree entry stands for, kept in its data roles.
enum EntryKind { KindRoot = 0, KindClass = 1, KindDevice = 2 };
constexpr int kKindRole = Qt::UserRole;
constexpr int kClassRole = Qt::UserRole + 1;
constexpr int kDeviceRole = Qt::UserRole + 2;

// Lets the window repaint without taking the user's clicks or keys in the middle of a refresh.
void Repaint() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

TFormComPort::TFormComPort(QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(std::make_unique<Ui::TFormComPort>()) {
    ui_->setupUi(this);
    ui_->Splitter1->setStretchFactor(0, 1);
    ui_->Splitter1->setStretchFactor(1, 1);
    source_ = [this] { return MachineDevices(settingsPath_ ? settingsPath_() : std::string()); };

    connect(ui_->Button1, &QPushButton::clicked, this, [this] { Button1Click(ui_->Button1); });
    connect(ui_->TreeView1, &QTreeWidget::itemClicked, this, [this] { TreeView1Click(); });
    // Moving through the tree by keyboard shows the details as a click does.
    connect(ui_->TreeView1, &QTreeWidget::currentItemChanged, this, [this] { TreeView1Click(); });
    connect(ui_->TreeView1, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const QString port = PortOfItem(item);
        if (!port.isEmpty()) emit PortChosen(port);
    });

    Timer1.setSingleShot(true);
    Timer1.setInterval(200);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1.start();
}

TFormComPort::~TFormComPort() = default;

void TFormComPort::Timer1Timer() {
    Timer1.stop();
    Button1Click(nullptr);
}

void TFormComPort::Clear() {
    // Deleting the entries moves the current one; no details are shown for entries going away.
    ui_->TreeView1->blockSignals(true);
    ui_->TreeView1->clear();
    ui_->TreeView1->blockSignals(false);
    tree_.clear();
    ui_->ListBox1->clear();
}

void TFormComPort::Button1Click(QObject*) {
    if (refreshing_) return;
    refreshing_ = true;
    // A refresh asked for before the first one makes the timed one unnecessary.
    Timer1.stop();
    ui_->Button1->setEnabled(false);
    ui_->TreeView1->setEnabled(false);
    ui_->Panel2->setVisible(true);
    Repaint();

    Clear();
    BuildTree();

    ui_->Panel2->setVisible(false);
    ui_->Button1->setEnabled(true);
    ui_->TreeView1->setEnabled(true);
    refreshing_ = false;
}

void TFormComPort::BuildTree() {
    QIcon appIcon = QApplication::windowIcon();
    if (appIcon.isNull()) appIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
    const QIcon classIcon = style()->standardIcon(QStyle::SP_DriveNetIcon);

    auto* root = new QTreeWidgetItem(ui_->TreeView1, QStringList{QStringLiteral("Устройства")});
    root->setIcon(0, appIcon);
    root->setData(0, kKindRole, KindRoot);

    tree_ = BuildDeviceTree(source_ ? source_() : std::vector<DeviceRecord>());
    ui_->TreeView1->blockSignals(true);
    for (std::size_t c = 0; c < tree_.size(); ++c) {
        auto* cls = new QTreeWidgetItem(root, QStringList{Qs(tree_[c].description)});
        cls->setIcon(0, classIcon);
        cls->setData(0, kKindRole, KindClass);
        cls->setData(0, kClassRole, static_cast<int>(c));
        for (std::size_t d = 0; d < tree_[c].devices.size(); ++d) {
            auto* dev = new QTreeWidgetItem(cls, QStringList{Qs(tree_[c].devices[d].description)});
            dev->setIcon(0, classIcon);
            dev->setData(0, kKindRole, KindDevice);
            dev->setData(0, kClassRole, static_cast<int>(c));
            dev->setData(0, kDeviceRole, static_cast<int>(d));
        }
        Repaint();
    }
    ui_->TreeView1->blockSignals(false);
    root->setExpanded(true);
    // The port classes open too: what is looked for is one level down.
    for (int i = 0; i < root->childCount(); ++i)
        root->child(i)->setExpanded(true);
    // Written on every refresh, so a port that went away leaves the list even when no port
    // class is left at all.
    ui_->Memo1->setPlainText(Qs(PortListText(tree_)));
}

void TFormComPort::TreeView1Click() {
    QTreeWidgetItem* item = ui_->TreeView1->currentItem();
    if (!item) return;
    bool ok = false;
    const int kind = item->data(0, kKindRole).toInt(&ok);
    if (!ok) return;
    std::vector<std::string> lines;
    const int c = item->data(0, kClassRole).toInt();
    const int d = item->data(0, kDeviceRole).toInt();
    const bool classKnown = c >= 0 && static_cast<std::size_t>(c) < tree_.size();
    if (kind == KindRoot) {
        lines = RootDetails();
    } else if (kind == KindClass && classKnown) {
        lines = ClassDetails(tree_[c]);
    } else if (kind == KindDevice && classKnown && d >= 0 &&
               static_cast<std::size_t>(d) < tree_[c].devices.size()) {
        lines = DeviceDetails(tree_[c].devices[d]);
    } else {
        return;
    }
    ui_->ListBox1->clear();
    for (const std::string& line : lines)
        ui_->ListBox1->addItem(Qs(line));
}

QString TFormComPort::PortOfItem(const QTreeWidgetItem* item) const {
    if (!item || item->data(0, kKindRole).toInt() != KindDevice) return {};
    const int c = item->data(0, kClassRole).toInt();
    const int d = item->data(0, kDeviceRole).toInt();
    if (c < 0 || std::size_t(c) >= tree_.size() || d < 0 ||
        std::size_t(d) >= tree_[std::size_t(c)].devices.size())
        return {};
    const std::vector<std::string> ports =
        PortList({DeviceTreeClass{"", "", {tree_[std::size_t(c)].devices[std::size_t(d)]}}});
    return ports.empty() ? QString() : Qs(ports.front());
}

QStringList TFormComPort::PortNames() const {
    return ui_->Memo1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TFormComPort::ShowBrowser() {
    show();
    raise();
    activateWindow();
}

std::vector<DeviceRecord> TFormComPort::MachineDevices(const std::string& settingsPath) {
    IniFile settings;
    if (!settingsPath.empty()) settings.Load(settingsPath);
    std::vector<DeviceRecord> records = ReadSerialDevices("", &settings);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string node = Std(info.systemLocation());
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const DeviceRecord& r) { return r.node == node; });
        if (it == records.end()) {
            DeviceRecord rec;
            rec.classId = "tty";
            rec.classDescription = kSerialPortClass;
            rec.node = node;
            records.push_back(rec);
            it = records.end() - 1;
        }
        // The service may know vendor strings that the device tree did not hold.
        if (it->manufacturer.empty()) it->manufacturer = Std(info.manufacturer());
        if (it->model.empty()) it->model = Std(info.description());
        NameDevice(*it, &settings);
    }
    std::sort(records.begin(), records.end(), [](const DeviceRecord& a, const DeviceRecord& b) {
        return NaturalLess(a.node, b.node);
    });
    return records;
}

void AttachComPortBrowser(TFormConnect& dialog, TFormComPort& browser) {
    QObject::connect(&browser, &TFormComPort::PortChosen, &dialog, [&dialog](const QString& port) {
        dialog.SetPortText(port);
        dialog.raise();
    });
    browser.SetSettingsFile([&dialog] { return dialog.SettingsFile(); });
    dialog.SetPortLister([&browser] {
        browser.Button1Click(nullptr);
        return browser.PortNames();
    });
}

}  // namespace vir05
