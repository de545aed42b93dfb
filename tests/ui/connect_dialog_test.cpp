// The connection dialog against a real settings file in a temporary program directory: load and
// save with the remembered numbers and addresses, the transport view, the command-line values,
// the service-code gating and when the dialog closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "ui/connect/connect.h"

namespace vir05 {
namespace {

template <class T>
T* Child(QObject& dialog, const char* name) {
    T* w = dialog.findChild<T*>(name);
    if (!w) throw std::runtime_error(std::string("no control ") + name);
    return w;
}

QComboBox* Combo(QObject& d, const char* name) {
    return Child<QComboBox>(d, name);
}

std::vector<std::string> Items(QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i)
        items.push_back(box->itemText(i).toStdString());
    return items;
}

// What the dialog's controls hold, for comparing whole states.
struct Controls {
    Transport transport;
    std::string port, baud, num, ipPort, ipAddr, pin;
    int netAddr;
    std::vector<std::string> numItems, ipAddrItems;
    bool operator==(const Controls&) const = default;
};

void PrintTo(const Controls& c, std::ostream* os) {
    *os << "{transport " << static_cast<int>(c.transport) << ", port " << c.port << ", baud "
        << c.baud << ", num " << c.num << ", ipPort " << c.ipPort << ", ipAddr " << c.ipAddr
        << ", pin " << c.pin << ", netAddr " << c.netAddr << ", numbers";
    for (const auto& i : c.numItems)
        *os << ' ' << i;
    *os << ", addresses";
    for (const auto& i : c.ipAddrItems)
        *os << ' ' << i;
    *os << '}';
}

Controls Read(TFormConnect& d) {
    return Controls{d.ChosenTransport(),
                    Combo(d, "_Port")->currentText().toStdString(),
                    Combo(d, "_BaudRate")->currentText().toStdString(),
                    Combo(d, "_Num")->currentText().toStdString(),
                    Combo(d, "_IP_port")->currentText().toStdString(),
                    Combo(d, "_IP_addr")->currentText().toStdString(),
                    Child<QLineEdit>(d, "PinCode")->text().toStdString(),
                    Child<QSpinBox>(d, "_NetAddr")->value(),
                    Items(Combo(d, "_Num")),
                    Items(Combo(d, "_IP_addr"))};
}

void Check(TFormConnect& d, Transport t) {
    Child<QRadioButton>(d, t == Transport::Tcp     ? "TCP"
                           : t == Transport::Modem ? "Modem"
                                                   : "RS")
        ->setChecked(true);
}

class ConnectDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        programDir_ = dir_.path().toStdString() + "/";
    }

    std::unique_ptr<TFormConnect> MakeDialog() {
        auto d = std::make_unique<TFormConnect>();
        d->SetProgramDir(programDir_);
        d->SetPortLister([this] { return ports_; });
        return d;
    }

    std::string IniPath() const { return programDir_ + "vir05.ini"; }

    void WriteIni(const std::string& text) const {
        std::ofstream out(IniPath(), std::ios::binary);
        out << text;
    }

    std::string IniText() const {
        std::ifstream in(IniPath(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    IniFile Ini() const {
        IniFile ini;
        ini.Load(IniPath());
        return ini;
    }

    std::string Key(const std::string& key) const {
        return Ini().ReadString(kSettingsSection, key, "<absent>");
    }

    QTemporaryDir dir_;
    std::string programDir_;
    QStringList ports_{"COM3", "/dev/ttyUSB0"};
};

// Other parts of the program find these controls by name.
TEST(ConnectForm, EveryControlByNameWithItsCaption) {
    TFormConnect d;
    const struct {
        const char* name;
        const char* caption;  // a group's title, a label's or button's text
    } captions[] = {
        {"GroupBox1", "Интерфейс"},
        {"RS", "RS485"},
        {"TCP", "TCP-IP"},
        {"Modem", "Модем"},
        {"GroupBox2", "Сетевой адрес прибора"},
        {"Label3", "Пин-код"},
        {"GroupRS", "Настройки интерфейса"},
        {"Label1", "COM-порт"},
        {"Button1", "?"},
        {"Label2", "Скорость обмена"},
        {"LabelNum", "Номер телефона"},
        {"GroupTCP", "Настройки интерфейса TCP-IP"},
        {"Label4", "IP-адрес"},
        {"Label5", "Порт"},
        {"ButtonOk", "ОК"},
        {"ButtonCancel", "Отмена"},
        {"ShowFull", "ShowFull"},
    };
    for (const auto& c : captions) {
        QWidget* w = Child<QWidget>(d, c.name);
        const QVariant title = w->property("title");
        const QString caption = title.isValid() ? title.toString() : w->property("text").toString();
        EXPECT_EQ(caption.toStdString(), c.caption) << c.name;
    }
    for (const char* name : {"_Port", "_BaudRate", "_Num", "_IP_addr", "_IP_port"}) {
        EXPECT_TRUE(Combo(d, name)->isEditable()) << name;
        EXPECT_EQ(Combo(d, name)->insertPolicy(), QComboBox::NoInsert) << name;
    }
    EXPECT_NO_THROW(Child<QLineEdit>(d, "PinCode"));
    EXPECT_NO_THROW(Child<QSpinBox>(d, "_NetAddr"));
    EXPECT_TRUE(Child<QRadioButton>(d, "RS")->isChecked());
    EXPECT_EQ(Child<QWidget>(d, "RS")->parentWidget(), Child<QWidget>(d, "GroupBox1"));
    EXPECT_EQ(Child<QWidget>(d, "_Port")->parentWidget(), Child<QWidget>(d, "GroupRS"));
    EXPECT_EQ(Child<QWidget>(d, "_IP_addr")->parentWidget(), Child<QWidget>(d, "GroupTCP"));
}

using ConnectSettingsFile = ConnectDialog;

TEST_F(ConnectSettingsFile, DefaultsWithNoFile) {
    auto d = MakeDialog();
    QSignalSpy gating(d.get(), &TFormConnect::ServiceModeChanged);
    d->ButtonCancelClick(nullptr);

    const Controls c = Read(*d);
    EXPECT_EQ(c.transport, Transport::Rs485);
    EXPECT_EQ(c.port, "COM1");
    EXPECT_EQ(c.baud, "9600");
    EXPECT_EQ(c.netAddr, 0);
    EXPECT_EQ(c.pin, "");
    EXPECT_EQ(c.num, "");
    EXPECT_EQ(c.ipAddr, "192.168.0.1");
    EXPECT_EQ(c.ipPort, "10001");
    // Loading gates: the window hides its service pages.
    ASSERT_EQ(gating.count(), 1);
    EXPECT_FALSE(gating.at(0).at(0).toBool());
    EXPECT_FALSE(d->ServiceMode());
    EXPECT_FALSE(std::filesystem::exists(IniPath()));  // a load never creates the file
}

TEST_F(ConnectSettingsFile, SaveThenLoadRestoresEveryControlAndKeepsOtherKeys) {
    const std::string foreign =
        "; written by hand\r\n"
        "[Setting]\r\n"
        "WorkDir=/home/user/data/\r\n"
        "NextSerial=500123\r\n"
        "COM3=/dev/ttyUSB0\r\n"
        "\r\n"
        "[Other]\r\n"
        "Port=keep me\r\n";
    const Transport transports[] = {Transport::Rs485, Transport::Tcp, Transport::Modem};
    for (Transport t : transports) {
        SCOPED_TRACE(std::string(InterfaceWord(t)));
        WriteIni(foreign);
        Controls saved;
        {
            auto d = MakeDialog();
            d->ButtonCancelClick(nullptr);
            Check(*d, t);
            Combo(*d, "_Port")->setEditText("COM7");
            Combo(*d, "_BaudRate")->setEditText("38400");
            Combo(*d, "_Num")->setEditText("8-901-555");
            Child<QSpinBox>(*d, "_NetAddr")->setValue(17);
            Combo(*d, "_IP_port")->setEditText("502");
            Combo(*d, "_IP_addr")->setEditText("10.0.0.5");
            Child<QLineEdit>(*d, "PinCode")->setText("1234");
            d->ButtonOkClick(nullptr);
            saved = Read(*d);
        }
        EXPECT_EQ(Key("Interface"), InterfaceWord(t));
        EXPECT_EQ(Key("NetAddr"), "17");
        EXPECT_EQ(Key("WorkDir"), "/home/user/data/");
        EXPECT_EQ(Key("NextSerial"), "500123");
        EXPECT_EQ(Key("COM3"), "/dev/ttyUSB0");
        EXPECT_EQ(Ini().ReadString("Other", "Port", ""), "keep me");
        EXPECT_EQ(IniText().rfind("; written by hand\r\n", 0), 0u);

        // The address list keeps its design entry first; the remembered ones follow it.
        ASSERT_EQ(saved.ipAddrItems, (std::vector<std::string>{"10.0.0.5", "192.168.0.1"}));
        Controls expected = saved;
        expected.ipAddrItems = {"192.168.0.1", "10.0.0.5"};
        auto reloaded = MakeDialog();
        reloaded->ButtonCancelClick(nullptr);
        EXPECT_EQ(Read(*reloaded), expected);
        EXPECT_EQ(Read(*reloaded).transport, t);
    }
}

TEST_F(ConnectSettingsFile, InterfaceWordIsExact) {
    const struct {
        const char* word;
        Transport before, after;
    } cases[] = {
        {"TCP", Transport::Rs485, Transport::Tcp},  {"Modem", Transport::Tcp, Transport::Modem},
        {"RS", Transport::Modem, Transport::Rs485}, {"tcp", Transport::Modem, Transport::Modem},
        {"RS485", Transport::Tcp, Transport::Tcp},  {"", Transport::Modem, Transport::Modem},
    };
    for (const auto& c : cases) {
        WriteIni(std::string("[Setting]\nInterface=") + c.word + "\n");
        auto d = MakeDialog();
        Check(*d, c.before);
        d->ButtonCancelClick(nullptr);
        EXPECT_EQ(d->ChosenTransport(), c.after) << '"' << c.word << '"';
    }
}

TEST_F(ConnectSettingsFile, BadNumbersInTheFileGiveSafeValues) {
    WriteIni("[Setting]\nNetAddr=abc\nIPport=http\nBaudRate=-1\n");
    auto d = MakeDialog();
    d->ButtonCancelClick(nullptr);
    EXPECT_EQ(Child<QSpinBox>(*d, "_NetAddr")->value(), 0);
    const ConnectionValues v = d->ConnectionValues();
    EXPECT_EQ(v.tcpPort, 10001);
    EXPECT_EQ(v.baudRate, 9600u);

    WriteIni("[Setting]\nNetAddr=300\n");
    d->ButtonCancelClick(nullptr);
    EXPECT_EQ(Child<QSpinBox>(*d, "_NetAddr")->value(), 255);  // the field's own limit
}

// A text with a line break must not add lines of its own to the file.
TEST(ConnectSettingsStore, LineBreaksDoNotInjectKeys) {
    IniFile ini;
    ConnectSettings s;
    s.transport = Transport::Rs485;
    s.num = "8123\r\nInterface=TCP";
    s.ipAddr = "10.0.0.1\n[Other]";
    s.pinCode = "1\nPinCode=2749";
    StoreConnectSettings(ini, s);

    IniFile back;
    back.Parse(ini.Text());
    EXPECT_EQ(back.ReadString(kSettingsSection, "Interface", ""), "RS");
    EXPECT_EQ(back.ReadString(kSettingsSection, "Num", ""), "8123Interface=TCP");
    EXPECT_EQ(back.ReadString(kSettingsSection, "Num1", ""), "8123Interface=TCP");
    EXPECT_EQ(back.ReadString(kSettingsSection, "IPaddr", ""), "10.0.0.1[Other]");
    EXPECT_EQ(back.ReadString(kSettingsSection, "PinCode", ""), "1PinCode=2749");
    EXPECT_FALSE(back.HasKey("Other", "IPaddr1"));
}

// The two remembered lists follow the same rules; the address list starts with its design entry.
struct HistoryCase {
    const char* key;
    const char* control;
};

void PrintTo(const HistoryCase& c, std::ostream* os) {
    *os << c.key;
}

class ConnectHistory : public ConnectDialog, public ::testing::WithParamInterface<HistoryCase> {
  protected:
    std::string K(int i) const { return GetParam().key + std::to_string(i); }
    QComboBox* List(TFormConnect& d) const { return Combo(d, GetParam().control); }
    std::vector<std::string> DesignItems() {
        TFormConnect fresh;
        return Items(Combo(fresh, GetParam().control));
    }
    static std::vector<std::string> Join(std::vector<std::string> a,
                                         const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

TEST_P(ConnectHistory, NewEntryGoesToTheTopExistingOneStays) {
    const std::string key = GetParam().key;
    WriteIni("[Setting]\r\n" + K(1) + "=a\r\n" + K(2) + "=b\r\n");
    auto d = MakeDialog();
    d->ButtonCancelClick(nullptr);
    const auto loaded = Join(DesignItems(), {"a", "b"});
    ASSERT_EQ(Items(List(*d)), loaded);

    List(*d)->setEditText("c");
    d->ButtonOkClick(nullptr);
    const auto afterNew = Join({"c"}, loaded);
    EXPECT_EQ(Items(List(*d)), afterNew);
    EXPECT_EQ(List(*d)->currentText(), "c");  // changing the list keeps the typed text
    EXPECT_EQ(Key(key), "c");
    for (std::size_t i = 0; i < afterNew.size(); ++i)
        EXPECT_EQ(Key(K(static_cast<int>(i) + 1)), afterNew[i]) << K(static_cast<int>(i) + 1);
    EXPECT_EQ(Key(K(static_cast<int>(afterNew.size()) + 1)), "<absent>");

    // An entry already listed keeps its place.
    List(*d)->setEditText("b");
    d->ButtonOkClick(nullptr);
    EXPECT_EQ(Items(List(*d)), afterNew);
    EXPECT_EQ(Key(key), "b");
    EXPECT_EQ(Key(K(1)), "c");
}

TEST_P(ConnectHistory, TwelveSavedNineMostRecentReadBack) {
    std::vector<std::string> entered;
    {
        auto d = MakeDialog();
        d->ButtonCancelClick(nullptr);
        for (int i = 1; i <= 12; ++i) {
            entered.push_back("e" + std::to_string(i));
            List(*d)->setEditText(QString::fromStdString(entered.back()));
            d->ButtonOkClick(nullptr);
        }
        const std::size_t listed = Items(List(*d)).size();
        EXPECT_EQ(listed, 12 + DesignItems().size());
        EXPECT_EQ(Key(K(1)), "e12");
        EXPECT_EQ(Key(K(12)), "e1");
        EXPECT_NE(Key(K(static_cast<int>(listed))), "<absent>");
    }
    auto restarted = MakeDialog();
    restarted->ButtonCancelClick(nullptr);
    EXPECT_EQ(Items(List(*restarted)),
              Join(DesignItems(), {"e12", "e11", "e10", "e9", "e8", "e7", "e6", "e5", "e4"}));
}

TEST_P(ConnectHistory, IndexZeroIsReadAndLeftInTheFile) {
    WriteIni("[Setting]\r\n" + K(0) + "=z\r\n" + K(1) + "=y\r\n");
    auto d = MakeDialog();
    d->ButtonCancelClick(nullptr);
    const auto loaded = Join(DesignItems(), {"z", "y"});
    ASSERT_EQ(Items(List(*d)), loaded);
    d->ButtonOkClick(nullptr);
    EXPECT_EQ(Key(K(0)), "z");
    for (std::size_t i = 0; i < loaded.size(); ++i)
        EXPECT_EQ(Key(K(static_cast<int>(i) + 1)), loaded[i]);
}

TEST_P(ConnectHistory, LoadAppendsWithoutDoublesOrBlanks) {
    WriteIni("[Setting]\n" + K(1) + "=a\n" + K(2) + "=a\n" + K(3) + "=\n" + K(5) + "=b\n" + K(9) +
             "=192.168.0.1\n" + K(10) + "=beyond\n");
    auto d = MakeDialog();
    d->ButtonCancelClick(nullptr);
    d->ButtonCancelClick(nullptr);
    std::vector<std::string> expected = Join(DesignItems(), {"a", "b"});
    if (std::find(expected.begin(), expected.end(), "192.168.0.1") == expected.end())
        expected.push_back("192.168.0.1");
    EXPECT_EQ(Items(List(*d)), expected);
}

INSTANTIATE_TEST_SUITE_P(Connect, ConnectHistory,
                         ::testing::Values(HistoryCase{"Num", "_Num"},
                                           HistoryCase{"IPaddr", "_IP_addr"}),
                         [](const auto& info) { return std::string(info.param.key); });

using ConnectView = ConnectDialog;

TEST_F(ConnectView, OneSettingsGroupForTheChosenTransport) {
    const struct {
        const char* radio;
        bool rs, tcp, number;
    } cases[] = {
        {"TCP", false, true, false},  {"Modem", true, false, true}, {"RS", true, false, false},
        {"Modem", true, false, true}, {"TCP", false, true, false},
    };
    auto d = MakeDialog();
    d->show();
    for (const auto& c : cases) {
        Child<QRadioButton>(*d, c.radio)->click();
        EXPECT_EQ(Child<QWidget>(*d, "GroupRS")->isVisible(), c.rs) << c.radio;
        EXPECT_EQ(Child<QWidget>(*d, "GroupTCP")->isVisible(), c.tcp) << c.radio;
        EXPECT_EQ(Child<QLabel>(*d, "LabelNum")->isVisible(), c.number) << c.radio;
        EXPECT_EQ(Combo(*d, "_Num")->isVisible(), c.number) << c.radio;
    }
}

TEST_F(ConnectView, LoadShowsTheStoredTransport) {
    auto d = MakeDialog();
    for (const char* word : {"TCP", "Modem", "RS"}) {
        WriteIni(std::string("[Setting]\nInterface=") + word + "\n");
        d->ButtonCancelClick(nullptr);
        const bool tcp = std::string(word) == "TCP";
        EXPECT_EQ(Child<QWidget>(*d, "GroupTCP")->isHidden(), !tcp) << word;
        EXPECT_EQ(Child<QWidget>(*d, "GroupRS")->isHidden(), tcp) << word;
        EXPECT_EQ(Combo(*d, "_Num")->isHidden(), std::string(word) != "Modem") << word;
    }
}

using ConnectModulSet = ConnectDialog;

TEST_F(ConnectModulSet, TakesTheCommandLineValues) {
    const struct {
        std::vector<std::string> args;
        Transport transport;
        const char *port, *baud, *num, *ipPort, *ipAddr;
        int netAddr;
    } cases[] = {
        {{}, Transport::Rs485, "COM1", "9600", "", "10001", "", 0},
        {{"-p3", "-b115200", "-n7"}, Transport::Rs485, "COM3", "115200", "", "10001", "", 7},
        {{"-md8123"}, Transport::Modem, "COM1", "9600", "8123", "10001", "", 0},
        // A host wins over a telephone number.
        {{"-md8123", "-si10.0.0.5", "-sp502", "-n12"},
         Transport::Tcp,
         "COM1",
         "9600",
         "8123",
         "502",
         "10.0.0.5",
         12},
        {{"-nabc", "-pxyz", "-bfast"}, Transport::Rs485, "COM1", "9600", "", "10001", "", 0},
        {{"-n300"}, Transport::Rs485, "COM1", "9600", "", "10001", "", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no options" : c.args.front());
        // Saved settings that differ in every control, so each value must be replaced.
        WriteIni(
            "[Setting]\nInterface=Modem\nPort=COM9\nBaudRate=300\nNum=555\nNetAddr=99\n"
            "IPport=1\nIPaddr=h\n");
        auto d = MakeDialog();
        d->ButtonCancelClick(nullptr);
        d->SetCommandLine(ParseCommandLine(c.args), 0);
        const Controls got = Read(*d);
        EXPECT_EQ(got.transport, c.transport);
        EXPECT_EQ(got.port, c.port);
        EXPECT_EQ(got.baud, c.baud);
        EXPECT_EQ(got.num, c.num);
        EXPECT_EQ(got.ipPort, c.ipPort);
        EXPECT_EQ(got.ipAddr, c.ipAddr);
        EXPECT_EQ(got.netAddr, c.netAddr);
    }
}

TEST_F(ConnectModulSet, NewDialogHoldsTheCommandLineDefaults) {
    TFormConnect d;
    const Controls c = Read(d);
    EXPECT_EQ(c.transport, Transport::Rs485);
    EXPECT_EQ(c.port, "COM1");
    EXPECT_EQ(c.baud, "9600");
    EXPECT_EQ(c.netAddr, 0);
    EXPECT_EQ(c.ipAddr, "");
    EXPECT_EQ(c.num, "");
    EXPECT_EQ(Items(Combo(d, "_Port")).size(), 10u);
    EXPECT_EQ(Items(Combo(d, "_Port")).back(), "COM10");
    const auto* addrEdit = Child<QSpinBox>(d, "_NetAddr")->findChild<QLineEdit*>();
    ASSERT_NE(addrEdit, nullptr);
    EXPECT_EQ(addrEdit->maxLength(), 5);
    EXPECT_EQ(Child<QSpinBox>(d, "_NetAddr")->maximum(), 255);
    EXPECT_EQ(d.windowTitle().toStdString(), "Настройки подключения");
    EXPECT_EQ(Items(Combo(d, "_BaudRate")),
              (std::vector<std::string>{"300", "1200", "9600", "38400", "115200"}));
}

TEST_F(ConnectModulSet, CommandLineModeHoldsUntilOk) {
    WriteIni("[Setting]\nPort=COM5\nPinCode=2749\n");
    auto d = MakeDialog();
    QSignalSpy gating(d.get(), &TFormConnect::ServiceModeChanged);
    const CommandLine cl = ParseCommandLine({"-show", "-p2", "-si10.1.1.1"});
    d->SetCommandLine(cl, cl.commandLineRun);
    ASSERT_NE(d->CommandLineConnect(), 0);

    // A load puts the command-line values back and applies no gating.
    d->ButtonCancelClick(nullptr);
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM2");
    EXPECT_EQ(d->ChosenTransport(), Transport::Tcp);
    EXPECT_EQ(Child<QLineEdit>(*d, "PinCode")->text(), "2749");  // read, but not gated
    EXPECT_EQ(gating.count(), 0);
    EXPECT_FALSE(d->ServiceMode());

    // "Отмена" leaves the dialog open in this mode.
    d->show();
    Child<QPushButton>(*d, "ButtonCancel")->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM2");

    // "ОК" stores them and ends the mode.
    Child<QPushButton>(*d, "ButtonOk")->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->CommandLineConnect(), 0);
    EXPECT_EQ(Key("Port"), "COM2");
    EXPECT_EQ(Key("Interface"), "TCP");
    ASSERT_EQ(gating.count(), 1);
    EXPECT_TRUE(gating.at(0).at(0).toBool());

    WriteIni("[Setting]\nPort=COM6\n");
    d->ButtonCancelClick(nullptr);
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM6");
}

using ConnectGating = ConnectDialog;

TEST_F(ConnectGating, ServiceCodeTurnsServiceModeOn) {
    const struct {
        const char* pin;
        bool on;
    } cases[] = {{"2749", true}, {"1234", false}, {"", false}, {"2749 ", false}, {"27490", false}};
    for (const auto& c : cases) {
        auto d = MakeDialog();
        d->ButtonCancelClick(nullptr);
        QSignalSpy gating(d.get(), &TFormConnect::ServiceModeChanged);
        Child<QLineEdit>(*d, "PinCode")->setText(c.pin);
        EXPECT_FALSE(d->ServiceMode()) << "typing alone does not gate";
        EXPECT_EQ(gating.count(), 0);

        Child<QPushButton>(*d, "ShowFull")->click();
        ASSERT_EQ(gating.count(), 1) << c.pin;
        EXPECT_EQ(gating.at(0).at(0).toBool(), c.on) << c.pin;
        EXPECT_EQ(d->ServiceMode(), c.on) << c.pin;
        EXPECT_EQ(d->PinCodeText(), c.pin);
    }
}

TEST_F(ConnectGating, CodeShownAtOnceStoredOnlyByOk) {
    {
        auto d = MakeDialog();
        d->ButtonCancelClick(nullptr);
        Child<QLineEdit>(*d, "PinCode")->setText("2749");
        d->ShowFullClick();
        EXPECT_TRUE(d->ServiceMode());
        EXPECT_FALSE(std::filesystem::exists(IniPath()));
    }
    {
        auto d = MakeDialog();
        d->ButtonCancelClick(nullptr);
        EXPECT_FALSE(d->ServiceMode());
        Child<QLineEdit>(*d, "PinCode")->setText("2749");
        d->ButtonOkClick(nullptr);
        EXPECT_TRUE(d->ServiceMode());
    }
    auto restarted = MakeDialog();
    QSignalSpy gating(restarted.get(), &TFormConnect::ServiceModeChanged);
    restarted->ButtonCancelClick(nullptr);
    ASSERT_EQ(gating.count(), 1);
    EXPECT_TRUE(gating.at(0).at(0).toBool());
    EXPECT_TRUE(restarted->ServiceMode());
}

using ConnectClose = ConnectDialog;

TEST_F(ConnectClose, OnlyACallWithASenderCloses) {
    auto d = MakeDialog();
    d->show();
    d->ButtonOkClick(nullptr);
    EXPECT_TRUE(d->isVisible());
    d->ButtonCancelClick(nullptr);
    EXPECT_TRUE(d->isVisible());
    d->ButtonOkClick(Child<QPushButton>(*d, "ButtonOk"));
    EXPECT_FALSE(d->isVisible());
    d->show();
    d->ButtonCancelClick(Child<QPushButton>(*d, "ButtonCancel"));
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->isModal());
}

TEST_F(ConnectClose, UnwritableSettingsStillGateAndClose) {
    auto d = std::make_unique<TFormConnect>();
    d->SetProgramDir(programDir_ + "missing/sub/");
    d->SetPortLister([] { return QStringList{}; });
    d->SetCommandLine(ParseCommandLine({"-show"}), kRunShow);
    QSignalSpy gating(d.get(), &TFormConnect::ServiceModeChanged);
    d->show();
    Combo(*d, "_Port")->setEditText("COM4");
    Child<QPushButton>(*d, "ButtonOk")->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->CommandLineConnect(), 0);
    EXPECT_EQ(gating.count(), 1);
    EXPECT_FALSE(std::filesystem::exists(programDir_ + "missing"));
    EXPECT_EQ(d->ConnectionValues().port, "COM4");  // the controls stay in force
}

using ConnectShow = ConnectDialog;

TEST_F(ConnectShow, ShowingRefreshesPortsAndDropsUnsavedEdits) {
    WriteIni("[Setting]\nPort=COM5\nInterface=TCP\n");
    auto d = MakeDialog();
    d->show();
    EXPECT_EQ(Items(Combo(*d, "_Port")), (std::vector<std::string>{"COM3", "/dev/ttyUSB0"}));
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM5");
    EXPECT_TRUE(Child<QWidget>(*d, "GroupTCP")->isVisible());

    // Edits count at once, saved or not; reopening shows the saved settings again.
    Combo(*d, "_Port")->setEditText("COM9");
    Child<QRadioButton>(*d, "RS")->click();
    EXPECT_EQ(d->ConnectionValues().port, "COM9");
    EXPECT_FALSE(d->ConnectionValues().IsTcp());
    d->hide();
    d->show();
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM5");
    EXPECT_TRUE(d->ConnectionValues().IsTcp());
}

TEST_F(ConnectShow, QuestionButtonRefreshesTheListKeepingTheText) {
    auto d = MakeDialog();
    d->show();
    Combo(*d, "_Port")->setEditText("COM9");
    ports_ = {"COM1", "COM2", "/dev/ttyACM0"};
    Child<QPushButton>(*d, "Button1")->click();
    EXPECT_EQ(Items(Combo(*d, "_Port")),
              (std::vector<std::string>{"COM1", "COM2", "/dev/ttyACM0"}));
    EXPECT_EQ(Combo(*d, "_Port")->currentText(), "COM9");
    EXPECT_TRUE(d->isVisible());
}

std::string Name(const QWidget* w) {
    return w->objectName().toStdString();
}

// The laid-out dialog: both settings groups in one place, no caption cut short. With
// VIR05_SHOT_DIR set, each transport view is also saved as connect_<view>.png there.
TEST_F(ConnectShow, LaidOutViewsShareOnePlaceAndFitTheirCaptions) {
    auto d = MakeDialog();
    d->show();
    QSize size;
    for (const char* radio : {"RS", "TCP", "Modem"}) {
        Child<QRadioButton>(*d, radio)->click();
        QApplication::processEvents();
        QWidget* rs = Child<QWidget>(*d, "GroupRS");
        QWidget* tcp = Child<QWidget>(*d, "GroupTCP");
        EXPECT_NE(rs->isVisible(), tcp->isVisible()) << radio;
        EXPECT_EQ(rs->geometry(), tcp->geometry()) << radio;
        if (size.isEmpty()) size = d->size();
        EXPECT_EQ(d->size(), size) << radio;
        for (QLabel* w : d->findChildren<QLabel*>()) {
            if (!w->isVisible()) continue;
            EXPECT_GE(w->width(), w->sizeHint().width()) << radio << ": " << Name(w);
            EXPECT_GE(w->height(), w->sizeHint().height()) << radio << ": " << Name(w);
        }
        for (QAbstractButton* w : d->findChildren<QAbstractButton*>()) {
            if (!w->isVisible()) continue;
            EXPECT_GT(w->width(), w->fontMetrics().horizontalAdvance(w->text()))
                << radio << ": " << Name(w);
        }
        const QString shots = qEnvironmentVariable("VIR05_SHOT_DIR");
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            const QString file = shots + "/connect_" + QString(radio).toLower() + ".png";
            EXPECT_TRUE(d->grab().save(file)) << file.toStdString();
        }
    }
}

}  // namespace
}  // namespace vir05
