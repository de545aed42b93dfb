// The serial device browser: its tree and port list from a given device list, the details of
// each kind of entry, the first refresh after start, and the connection dialog fed from it.
#include "ui/connect/comport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "ui/connect/connect.h"

namespace vir05 {
namespace {

DeviceRecord Dev(const std::string& cls, const std::string& name, const std::string& node) {
    DeviceRecord r;
    r.classId = cls;
    r.classDescription = cls;
    r.description = name;
    r.node = node;
    r.driver = "serial8250";
    return r;
}

template <typename T>
T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    if (!c) ADD_FAILURE() << "no control " << name;
    return c;
}

QStringList Lines(QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

class ComPortBrowser : public ::testing::Test {
  protected:
    void SetUp() override {
        form_.SetDeviceSource([this] {
            ++reads_;
            return devices_;
        });
        tree_ = Child<QTreeWidget>(form_, "TreeView1");
        details_ = Child<QListWidget>(form_, "ListBox1");
        memo_ = Child<QPlainTextEdit>(form_, "Memo1");
        ASSERT_TRUE(tree_ && details_ && memo_);
    }

    std::vector<DeviceRecord> devices_{
        Dev("Порты (COM)", "Последовательный порт (COM3)", "/dev/ttyS2"),
        Dev("Клавиатуры", "Клавиатура", "/dev/input0"),
        Dev("Порты (COM)", "Адаптер RS485 (COM12)", "/dev/ttyUSB0"),
        Dev("Порты (COM)", "Модем без номера", ""),
        Dev("модемы com", "Модем (COM5)", "/dev/ttyACM0"),
        Dev("Порты (COM)", "Последовательный порт (COM1)", "/dev/ttyS0"),
    };
    int reads_ = 0;
    TFormComPort form_;
    QTreeWidget* tree_ = nullptr;
    QListWidget* details_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
};

TEST_F(ComPortBrowser, RefreshBuildsTreeAndPortList) {
    EXPECT_EQ(form_.windowTitle(), QStringLiteral("Перечень устройств компьютера"));
    form_.Button1Click(nullptr);
    EXPECT_EQ(reads_, 1);
    ASSERT_EQ(tree_->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("Устройства"));
    EXPECT_TRUE(root->isExpanded());
    // Only the class with "COM" in its description; lower-case "com" does not count.
    ASSERT_EQ(root->childCount(), 1);
    QTreeWidgetItem* cls = root->child(0);
    EXPECT_EQ(cls->text(0), QStringLiteral("Порты (COM)"));
    ASSERT_EQ(cls->childCount(), 4);
    EXPECT_EQ(cls->child(1)->text(0), QStringLiteral("Адаптер RS485 (COM12)"));
    EXPECT_EQ(cls->child(2)->text(0), QStringLiteral("Модем без номера"));

    // Enumeration order; COM12 whole; the device without number or node adds nothing.
    EXPECT_EQ(memo_->toPlainText(), QStringLiteral("COM3\nCOM12\nCOM1\n"));
    EXPECT_EQ(form_.PortNames(), (QStringList{"COM3", "COM12", "COM1"}));
    EXPECT_FALSE(memo_->isVisible());

    auto* button = Child<QPushButton>(form_, "Button1");
    auto* wait = Child<QLabel>(form_, "Panel2");
    ASSERT_TRUE(button && wait);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(tree_->isEnabled());
    EXPECT_TRUE(wait->isHidden());
    EXPECT_EQ(wait->text(), QStringLiteral("Подождите, идёт обновление списка..."));
}

TEST_F(ComPortBrowser, DetailsOfEachEntryKind) {
    form_.Button1Click(nullptr);
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->childCount(), 1);

    tree_->setCurrentItem(root);
    form_.TreeView1Click();
    EXPECT_EQ(Lines(details_), (QStringList{"", "Список устройств вашего компьютера"}));

    tree_->setCurrentItem(root->child(0));
    form_.TreeView1Click();
    EXPECT_EQ(Lines(details_), (QStringList{"", "Класс \"Порты (COM)\"", "", "#"}));

    tree_->setCurrentItem(root->child(0)->child(1));
    form_.TreeView1Click();
    EXPECT_EQ(Lines(details_),
              (QStringList{"", "Устройство \"Адаптер RS485 (COM12)\"", "", "Драйвер: serial8250",
                           "Файл устройства: /dev/ttyUSB0"}));

    // A refresh empties the details with the tree they described.
    form_.Button1Click(nullptr);
    EXPECT_EQ(details_->count(), 0);
}

TEST_F(ComPortBrowser, PortsThatWentAwayLeaveTheList) {
    form_.Button1Click(nullptr);
    ASSERT_EQ(form_.PortNames().size(), 3);
    devices_ = {Dev("Клавиатуры", "Клавиатура", "/dev/input0")};
    form_.Button1Click(nullptr);
    EXPECT_TRUE(form_.PortNames().isEmpty());
    ASSERT_EQ(tree_->topLevelItemCount(), 1);
    EXPECT_EQ(tree_->topLevelItem(0)->childCount(), 0);
}

TEST_F(ComPortBrowser, RefreshAskedDuringRefreshIsIgnored) {
    // The repaint between classes may deliver another request (the dialog opening, the timer).
    form_.SetDeviceSource([this] {
        ++reads_;
        EXPECT_TRUE(form_.Refreshing());
        // Meanwhile the wait notice shows and neither the button nor the tree takes input.
        EXPECT_FALSE(form_.findChild<QLabel*>("Panel2")->isHidden());
        EXPECT_FALSE(form_.findChild<QPushButton*>("Button1")->isEnabled());
        EXPECT_FALSE(tree_->isEnabled());
        form_.Button1Click(nullptr);
        return devices_;
    });
    form_.Button1Click(nullptr);
    EXPECT_EQ(reads_, 1);
    EXPECT_FALSE(form_.Refreshing());
    EXPECT_EQ(tree_->topLevelItem(0)->child(0)->childCount(), 4);
}

TEST_F(ComPortBrowser, FirstRefreshFollowsStartOnce) {
    EXPECT_EQ(reads_, 0);
    EXPECT_TRUE(QTest::qWaitFor([this] { return reads_ > 0; }, 5000));
    EXPECT_EQ(form_.PortNames(), (QStringList{"COM3", "COM12", "COM1"}));
    QTest::qWait(400);
    EXPECT_EQ(reads_, 1);
}

TEST_F(ComPortBrowser, ConnectionDialogOffersTheBrowserPorts) {
    TFormConnect dialog;
    AttachComPortBrowser(dialog, form_);
    dialog.FormShow();
    EXPECT_EQ(reads_, 1);
    auto* port = Child<QComboBox>(dialog, "_Port");
    ASSERT_NE(port, nullptr);
    QStringList items;
    for (int i = 0; i < port->count(); ++i)
        items << port->itemText(i);
    EXPECT_EQ(items, (QStringList{"COM3", "COM12", "COM1"}));
}

// The port classes open expanded; a double click on a device chooses its port in the dialog.
TEST_F(ComPortBrowser, ClassesOpenAndADoubleClickChoosesThePort) {
    TFormConnect dialog;
    AttachComPortBrowser(dialog, form_);
    form_.Button1Click(nullptr);
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    ASSERT_GE(root->childCount(), 1);
    auto* port = Child<QComboBox>(dialog, "_Port");
    ASSERT_NE(port, nullptr);
    const struct {
        const char* device;
        const char* want;
    } cases[] = {{"Адаптер RS485 (COM12)", "COM12"}, {"Последовательный порт (COM1)", "COM1"}};
    int found = 0;
    for (int c = 0; c < root->childCount(); ++c) {
        QTreeWidgetItem* cls = root->child(c);
        EXPECT_TRUE(cls->isExpanded()) << cls->text(0).toStdString();
        for (int d = 0; d < cls->childCount(); ++d)
            for (const auto& k : cases) {
                if (cls->child(d)->text(0) != QString(k.device)) continue;
                ++found;
                port->setEditText("COM9");
                emit tree_->itemDoubleClicked(cls->child(d), 0);
                EXPECT_EQ(port->currentText(), QString(k.want)) << k.device;
            }
    }
    EXPECT_EQ(found, 2);
    // A class is not a port: nothing changes.
    port->setEditText("COM9");
    emit tree_->itemDoubleClicked(root->child(0), 0);
    emit tree_->itemDoubleClicked(root, 0);
    EXPECT_EQ(port->currentText(), QString("COM9"));
}

// The machine's own devices: whatever they are, every one is named, and every port listed is a
// text the connection settings accept. With VIR05_SHOT_DIR set the window is saved there.
TEST(ComPortMachine, MachineDevicesAreNamedAndPickable) {
    TFormComPort form;
    form.resize(640, 420);
    form.Button1Click(nullptr);
    for (const DeviceRecord& d : TFormComPort::MachineDevices("")) {
        EXPECT_FALSE(d.description.empty()) << d.node;
        EXPECT_EQ(d.node.rfind("/dev/", 0), 0u) << d.node;
    }
    for (const QString& p : form.PortNames())
        EXPECT_TRUE(p.startsWith("COM") || p.startsWith("/dev/")) << p.toStdString();

    const QString dir = qEnvironmentVariable("VIR05_SHOT_DIR");
    if (dir.isEmpty()) return;
    form.show();
    auto* tree = form.findChild<QTreeWidget*>("TreeView1");
    ASSERT_NE(tree, nullptr);
    tree->expandAll();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    if (root && root->childCount() > 0 && root->child(0)->childCount() > 0)
        tree->setCurrentItem(root->child(0)->child(0));
    form.TreeView1Click();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QDir().mkpath(dir);
    EXPECT_TRUE(form.grab().save(dir + "/comport.png"));
}

}  // namespace
}  // namespace vir05
