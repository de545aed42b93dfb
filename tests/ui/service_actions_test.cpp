// The service page's actions: what each button starts and over which line, the confirmations,
// the serial number's questions and image preparation, the number chosen with SerialN's arrows,
// and, against the simulated controller, the frames a service command puts on the line.
#include "ui/main/service_actions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

#include "app/command_driver.h"
#include "core/protocol/link_request.h"
#include "link/rwclass.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"
#include "sim/lines.h"
#include "ui/connect/connect.h"
#include "ui/main/pages.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Start {
    int command;
    bool serialLine;
    bool operator==(const Start&) const = default;
};

// The real window's service page with receivers that record what the actions ask for, and
// queries that answer the questions from a queue.
class ServiceFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        PutI32(image_.data(), addr::DevNumber, kDefaultSerialNumber);
        image_[addr::ServiceCommand] = 0;
        ServiceQueries h;
        h.texts = [this] {
            ConnectionTexts t;
            t.transport = transport_;
            t.port = "COM3";
            t.netAddr = "7";
            return t;
        };
        h.confirm = [this](const QString& q) {
            questions_.push_back(q.toStdString());
            if (answers_.empty()) return false;
            const bool a = answers_.front();
            answers_.pop_front();
            return a;
        };
        h.linkBusy = [this] { return busy_; };
        actions_ = std::make_unique<ServiceActions>(window_.Service(), image_.data(), std::move(h));
        QObject::connect(actions_.get(), &ServiceActions::serviceCommandRequested,
                         [this](int c, bool s) {
                             starts_.push_back({c, s});
                         });
        QObject::connect(actions_.get(), &ServiceActions::captionChanged,
                         [this](const QString& t) { captions_.push_back(t.toStdString()); });
        QObject::connect(actions_.get(), &ServiceActions::nextSerialChosen,
                         [this](const std::string& n) { chosen_.push_back(n); });
        // The window hides its tool panel on each request it starts.
        QObject::connect(actions_.get(), &ServiceActions::serviceCommandRequested,
                         [this] { ++hidden_; });
    }
    QPushButton* Button(const char* name) {
        auto* b = window_.Pages()->findChild<QPushButton*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    std::int32_t DevNumber() const { return I32(image_.data(), addr::DevNumber); }

    TFormCfg window_;
    std::array<std::uint8_t, kImageSize> image_{};
    std::unique_ptr<ServiceActions> actions_;
    std::vector<Start> starts_;
    std::vector<std::string> captions_;
    std::vector<std::string> questions_;
    std::vector<std::string> chosen_;
    std::deque<bool> answers_;
    int hidden_ = 0;
    bool busy_ = false;
    Transport transport_ = Transport::Rs485;  // the connection chosen in the dialog
};

struct ActionCase {
    const char* button;
    const char* question;
    Start start;
    const char* caption;
};

// Calibrations and the reboot always go to the COM port; the erase and the clock over the
// chosen transport. The captions name the port also when TCP is chosen.
const ActionCase kActions[] = {
    {"Klb_KZ",
     "Провести калибровку на закороченом шлейфе?",
     {12, true},
     "Калибровка К.З. (COM3, Адр:7)"},
    {"Klb_100",
     "Провести калибровку на резисторе=500(100) ом?",
     {8, true},
     "Калибровка 500 (100) (COM3, Адр:7)"},
    {"ClrStat", "Стереть архив прибора?", {9, false}, "Стирание архива (COM3, Адр:7)"},
    {"SetTime",
     "Загрузить системное время в прибор?",
     {5, false},
     "Коррекция времени (COM3, Адр:7)"},
    {"Reset", "Провести перезагрузку?", {261, true}, "Перезагрузка (COM3, Адр:7)"},
};

TEST_F(ServiceFixture, EachButtonAsksThenStartsItsCommand) {
    for (const ActionCase& c : kActions) {
        SCOPED_TRACE(c.button);
        starts_.clear();
        captions_.clear();
        questions_.clear();
        hidden_ = 0;
        answers_ = {true};
        Button(c.button)->click();
        EXPECT_THAT(questions_, ElementsAre(c.question));
        EXPECT_THAT(starts_, ElementsAre(c.start));
        EXPECT_THAT(captions_, ElementsAre(c.caption));
        EXPECT_EQ(hidden_, 1);
    }
    // None of them touches the image: the link writes the service byte itself.
    EXPECT_EQ(image_[addr::ServiceCommand], 0);
    EXPECT_EQ(DevNumber(), kDefaultSerialNumber);
}

// With TCP or the modem chosen, a command that always goes to the COM port says so in its
// question and its caption; the others read as before.
TEST_F(ServiceFixture, CommandsForTheSerialLineNameItWhenAnotherConnectionIsChosen) {
    const std::string note =
        "\n\nКоманда пойдёт через порт COM3 (RS485), а не через выбранное "
        "подключение.";
    for (const Transport transport : {Transport::Tcp, Transport::Modem}) {
        transport_ = transport;
        for (const ActionCase& c : kActions) {
            SCOPED_TRACE(c.button);
            captions_.clear();
            questions_.clear();
            answers_ = {true};
            Button(c.button)->click();
            std::string question = c.question;
            std::string caption = c.caption;
            if (c.start.serialLine) {
                question += note;
                caption.replace(caption.find("COM3"), 4, "RS485 COM3");
            }
            EXPECT_THAT(questions_, ElementsAre(question));
            EXPECT_THAT(captions_, ElementsAre(caption));
        }
        captions_.clear();
        questions_.clear();
        Button("NextSerial")->setText("500002");
        PutI32(image_.data(), addr::DevNumber, kDefaultSerialNumber);
        answers_ = {true};
        actions_->NextSerialClick();
        EXPECT_THAT(questions_, ElementsAre("Записать новый S/N 500002" + note));
        EXPECT_THAT(captions_, ElementsAre("Запись S/N 500002 (RS485 COM3, Адр:7)"));
    }
}

// A serial-number write that fails or is stopped leaves the number the image held before; a
// successful one keeps the new number.
TEST_F(ServiceFixture, AFailedSerialWriteLeavesTheNumberAsItWas) {
    Button("NextSerial")->setText("500002");
    for (const bool succeeded : {false, true}) {
        SCOPED_TRACE(succeeded);
        PutI32(image_.data(), addr::DevNumber, kDefaultSerialNumber);
        answers_ = {true};
        actions_->NextSerialClick();
        EXPECT_EQ(DevNumber(), 500002);  // what the link sends
        actions_->SerialWriteEnded(succeeded);
        EXPECT_EQ(DevNumber(), succeeded ? 500002 : kDefaultSerialNumber);
    }
    // A start refused while another command ran prepared nothing and restores nothing.
    busy_ = true;
    PutI32(image_.data(), addr::DevNumber, 500777);
    answers_ = {true, true};
    actions_->NextSerialClick();
    actions_->SerialWriteEnded(false);
    EXPECT_EQ(DevNumber(), 500777);
}

TEST_F(ServiceFixture, CancelledConfirmationDoesNothing) {
    const auto before = image_;
    for (const ActionCase& c : kActions) {
        answers_ = {false};
        Button(c.button)->click();
    }
    answers_ = {false};
    Button("NextSerial")->click();
    EXPECT_EQ(questions_.size(), std::size(kActions) + 1);
    EXPECT_TRUE(starts_.empty());
    EXPECT_TRUE(captions_.empty());
    EXPECT_EQ(hidden_, 0);
    EXPECT_EQ(image_, before);
}

TEST_F(ServiceFixture, DefaultSerialNumberNeedsOneQuestion) {
    Button("NextSerial")->setText("500002");
    answers_ = {true};
    actions_->NextSerialClick();
    EXPECT_THAT(questions_, ElementsAre("Записать новый S/N 500002"));
    // DevNumber at 76, little-endian: 500002 = 0x0007A122.
    EXPECT_THAT(std::vector<std::uint8_t>(image_.begin() + 76, image_.begin() + 80),
                ElementsAre(0x22, 0xA1, 0x07, 0x00));
    EXPECT_THAT(starts_, ElementsAre(Start{6, true}));
    // The caption has no port and no opening parenthesis.
    EXPECT_THAT(captions_, ElementsAre("Запись S/N 500002, Адр:7)"));
    EXPECT_EQ(hidden_, 1);
}

TEST_F(ServiceFixture, OwnSerialNumberNeedsASecondAnswer) {
    struct Case {
        std::int32_t current;
        bool secondAnswer;
        const char* second;
    } cases[] = {
        {500002, true, "Текущий серийный номер равен новому! Записать все равно?"},
        {500010, true, "Текущий серийный номер - не номер по умолчению! Записать все равно?"},
        {500010, false, "Текущий серийный номер - не номер по умолчению! Записать все равно?"},
    };
    Button("NextSerial")->setText("500002");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current);
        PutI32(image_.data(), addr::DevNumber, c.current);
        starts_.clear();
        questions_.clear();
        answers_ = {true, c.secondAnswer};
        actions_->NextSerialClick();
        EXPECT_THAT(questions_, ElementsAre("Записать новый S/N 500002", c.second));
        if (c.secondAnswer) {
            EXPECT_THAT(starts_, ElementsAre(Start{6, true}));
            EXPECT_EQ(DevNumber(), 500002);
        } else {
            EXPECT_TRUE(starts_.empty());
            EXPECT_EQ(DevNumber(), c.current);  // left as it was
        }
    }
}

TEST_F(ServiceFixture, BusyLinkKeepsTheImage) {
    busy_ = true;  // a command is running: the image is the link's
    Button("NextSerial")->setText("500002");
    answers_ = {true};
    actions_->NextSerialClick();
    EXPECT_EQ(DevNumber(), kDefaultSerialNumber);
    // The start still goes out: it cancels the running command.
    EXPECT_THAT(starts_, ElementsAre(Start{6, true}));
}

TEST_F(ServiceFixture, SerialNumberThatIsNotANumberIsNotWritten) {
    Button("NextSerial")->setText("5000x2");
    answers_ = {true};
    actions_->NextSerialClick();
    EXPECT_TRUE(starts_.empty());
    EXPECT_EQ(DevNumber(), kDefaultSerialNumber);
    ASSERT_EQ(captions_.size(), 1u);
    EXPECT_EQ(captions_[0], "Ошибка: серийный номер \"5000x2\" - не число");
    EXPECT_EQ(hidden_, 0);
}

// Wired to the real window and dialog: the caption is the window's title, the tool panel goes,
// the texts are the dialog's.
TEST(ServiceWindowHooks, CaptionPanelAndTextsOfTheWindow) {
    TFormCfg window;
    TFormConnect connection;
    connection.findChild<QComboBox*>("_Port")->setEditText("COM5");
    connection.findChild<QSpinBox*>("_NetAddr")->setValue(3);
    std::vector<Start> starts;
    ServiceQueries h;
    h.confirm = [](const QString&) { return true; };
    window.SetReadPanelVisible(true);
    std::array<std::uint8_t, kImageSize> image{};
    ServiceActions actions(window.Service(), image.data(), std::move(h));
    WireServiceToWindow(actions, window, connection);
    QObject::connect(&actions, &ServiceActions::serviceCommandRequested, [&](int c, bool s) {
        starts.push_back({c, s});
    });
    actions.ClrStatClick();
    EXPECT_THAT(starts, ElementsAre(Start{9, false}));
    EXPECT_EQ(window.windowTitle().toStdString(), "Стирание архива (COM5, Адр:3)");
    EXPECT_FALSE(window.ReadPanelVisible());
}

// SerialN's arrows choose the number NextSerial writes; typing into SerialN does not.
TEST(ServiceSerialN, ArrowsChooseTheNextNumber) {
    PageService pages;
    auto* spin = pages.findChild<QSpinBox*>("SerialN");
    auto* next = pages.findChild<QPushButton*>("NextSerial");
    ASSERT_NE(spin, nullptr);
    ASSERT_NE(next, nullptr);
    spin->setRange(500001, 599999);
    spin->setValue(500042);
    spin->setMinimumWidth(120);
    next->setText("500002");
    std::vector<std::string> chosen;
    std::array<std::uint8_t, kImageSize> image{};
    ServiceActions actions(&pages, image.data());
    QObject::connect(&actions, &ServiceActions::nextSerialChosen,
                     [&](const std::string& n) { chosen.push_back(n); });
    pages.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pages));

    QTest::keyClicks(spin, "7");  // typed: the value changes, NextSerial does not
    spin->setValue(500050);       // set by the presentation: no change either
    EXPECT_EQ(next->text(), "500002");

    // The up arrow sits at the right end of the upper half.
    const QPoint up(spin->width() - 4, spin->height() / 4);
    QTest::mouseClick(spin, Qt::LeftButton, {}, up);
    EXPECT_EQ(spin->value(), 500051);
    EXPECT_EQ(next->text(), "500051");
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(next->text(), "500049");
    EXPECT_THAT(chosen, ElementsAre("500051", "500050", "500049"));
}

// Against the simulated controller: with TCP chosen in the connection dialog the calibration
// goes to the serial line (a pseudo-terminal) and the archive erase over TCP.
class ServiceSimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::GeneratorOptions o;
        auto image = std::make_unique<std::uint8_t[]>(kImageSize);
        auto archive = std::make_unique<std::uint8_t[]>(kArchiveSize);
        sim::GenerateContents(o, image.get(), archive.get());
        serialController_.Load(image.get(), archive.get());
        tcpController_.Load(image.get(), archive.get());
        std::string error;
        tcp_ = std::make_unique<sim::TcpServer>(tcpController_, faults_, 0);
        ASSERT_TRUE(tcp_->Start(error)) << error;
        pty_ = std::make_unique<sim::PtyServer>(serialController_, faults_, 115200);
        ASSERT_TRUE(pty_->Start(error)) << error;

        LinkTiming t;
        t.tickMs = 5;
        t.beforeSerialOpenMs = 1;
        t.beforeTcpSendMs = 1;
        t.serialReadTimeoutMs = 5;
        areas_ = std::make_unique<MemoryAreas>();
        link_ = std::make_unique<TRWClass>(*areas_, t, "");
        dialog_ = std::make_unique<TFormConnect>();
        auto combo = [this](const char* name, const QString& text) {
            auto* c = dialog_->findChild<QComboBox*>(name);
            ASSERT_NE(c, nullptr) << name;
            c->setEditText(text);
        };
        dialog_->findChild<QRadioButton*>("TCP")->setChecked(true);
        combo("_IP_addr", "127.0.0.1");
        combo("_IP_port", QString::number(tcp_->Port()));
        combo("_Port", QString::fromStdString(pty_->SlavePath()));
        combo("_BaudRate", "115200");
        dialog_->findChild<QSpinBox*>("_NetAddr")->setValue(1);

        ServiceQueries h;
        h.texts = [this] { return dialog_->Texts(); };
        h.confirm = [](const QString&) { return true; };
        actions_ = std::make_unique<ServiceActions>(nullptr, areas_->DeviceImage(), std::move(h));
        QObject::connect(actions_.get(), &ServiceActions::serviceCommandRequested,
                         [this](int command, bool serialLine) {
                             const ConnectionValues v = serialLine
                                                            ? dialog_->ServiceConnectionValues()
                                                            : dialog_->ConnectionValues();
                             started_ = CommandDriver(*link_, *areas_).Start(command, v);
                         });
    }
    void TearDown() override {
        link_.reset();
        pty_.reset();
        tcp_.reset();
    }
    // Waits until the link has parked; the deadline only keeps a broken link from hanging.
    void WaitParked() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!link_->Parked() && std::chrono::steady_clock::now() < deadline) {
            link_->ServeSynchronize();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(link_->Parked());
    }

    sim::Controller serialController_;
    sim::Controller tcpController_;
    sim::FaultInjector faults_;
    std::unique_ptr<sim::TcpServer> tcp_;
    std::unique_ptr<sim::PtyServer> pty_;
    std::unique_ptr<MemoryAreas> areas_;
    std::unique_ptr<TRWClass> link_;
    std::unique_ptr<TFormConnect> dialog_;
    std::unique_ptr<ServiceActions> actions_;
    bool started_ = false;
};

// A service command is a one-byte write of its code at address 96, then the image read.
//   55 01 FE        start, address 1 and its complement
//   0C 81 03        plain mode, write, three parameters
//   00 60           address 96, big-endian
//   cc              the service code
//   ss              one's complement of the byte sum
// The image read: 55 01 FE 0F 01 06, address 0 (00 00 00 00), 1955 bytes (07 A3), EB.
const std::uint8_t kImageRead[] = {0x55, 0x01, 0xFE, 0x0F, 0x01, 0x06, 0x00,
                                   0x00, 0x00, 0x00, 0x07, 0xA3, 0xEB};

TEST_F(ServiceSimTest, CalibrationGoesToTheSerialLineEvenWithTcpChosen) {
    actions_->Klb_KZClick();
    ASSERT_TRUE(started_);
    WaitParked();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    const auto frames = serialController_.ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    // Code 5: short-circuit calibration; 0x55+0x01+0xFE+0x0C+0x81+0x03+0x60+0x05 = 0x249.
    EXPECT_THAT(frames[0], ElementsAre(0x55, 0x01, 0xFE, 0x0C, 0x81, 0x03, 0x00, 0x60, 0x05, 0xB6));
    EXPECT_THAT(frames[1], ElementsAreArray(kImageRead));
    EXPECT_TRUE(tcpController_.ReceivedFrames().empty());
    // The service byte is back to 0 in the image once sent.
    EXPECT_EQ(areas_->DeviceImage()[addr::ServiceCommand], 0);
}

TEST_F(ServiceSimTest, ArchiveEraseGoesOverTcp) {
    actions_->ClrStatClick();
    ASSERT_TRUE(started_);
    WaitParked();
    EXPECT_EQ(link_->GetStatus(), 0) << link_->Request().ErrorText;
    const auto frames = tcpController_.ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    // Code 2: archive erase; byte sum 0x246, complement 0xB9.
    EXPECT_THAT(frames[0], ElementsAre(0x55, 0x01, 0xFE, 0x0C, 0x81, 0x03, 0x00, 0x60, 0x02, 0xB9));
    EXPECT_THAT(frames[1], ElementsAreArray(kImageRead));
    EXPECT_TRUE(serialController_.ReceivedFrames().empty());
}

}  // namespace
}  // namespace vir05
