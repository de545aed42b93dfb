// The window against the simulated controller where the engineer's controller is at stake:
// nothing is written that was not asked for, a stop is never reported as a success, a finished
// cycle leaves nothing running, and what the engineer is asked names what goes out.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/window_run.h"
#include "core/completion.h"
#include "core/protocol/frame.h"
#include "model/bytes.h"
#include "model/datafile.h"
#include "tests/core/test_util.h"
#include "tests/ui/session_fixture.h"
#include "ui/graph/graph.h"
#include "ui/main/archive_view.h"
#include "ui/main/emulation.h"

namespace vir05 {
namespace {

using test::SessionTest;

// Answers every question box that comes up while it lives, with OK, and keeps its text.
class Answerer {
  public:
    Answerer() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            texts.push_back(box->text());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
        });
        timer_.start();
    }
    QStringList texts;

  private:
    QTimer timer_;
};

class FieldSafetyTest : public SessionTest {
  protected:
    void TearDown() override {
        SessionTest::TearDown();
        pty_.reset();
    }
    // The serial-number write always goes to the COM port: a simulated controller behind a
    // pseudo-terminal answers it there.
    void UseSerialSimulator() {
        serialController_.Load(image_.get(), archive_.get());
        pty_ = std::make_unique<sim::PtyServer>(serialController_, serialFaults_, 115200);
        std::string error;
        ASSERT_TRUE(pty_->Start(error)) << error;
        TFormConnect& c = session_->Connection();
        c.findChild<QComboBox*>("_Port")->setEditText(QString::fromStdString(pty_->SlavePath()));
        c.findChild<QComboBox*>("_BaudRate")->setEditText("115200");
    }
    QAction* Action(const char* name) { return session_->Window().findChild<QAction*>(name); }
    bool WriteEnabled() { return Action("WriteCfg")->isEnabled(); }
    bool RewriteEnabled() { return Action("ReWriteCfg")->isEnabled(); }
    std::size_t WritesReceived() {
        std::size_t n = 0;
        for (const auto& f : controller_.ReceivedFrames())
            n += f.size() > 4 && f[4] == kOpWrite;
        return n;
    }
    sim::Controller serialController_;
    sim::FaultInjector serialFaults_;
    std::unique_ptr<sim::PtyServer> pty_;
    // Runs the event loop until `done` holds (or a generous limit passes).
    template <typename F>
    bool WaitFor(F done, int ms = 20000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }
};

TEST_F(FieldSafetyTest, NothingIsWrittenBeforeTheControllerWasRead) {
    SetPin("2749");
    EXPECT_FALSE(WriteEnabled());
    EXPECT_FALSE(RewriteEnabled());
    EXPECT_FALSE(session_->Window().findChild<QWidget*>("SpeedButtonSave")->isEnabled());
    for (const bool rewrite : {false, true}) {
        session_->WriteCfgClick(rewrite, false);
        EXPECT_FALSE(session_->Busy());
        EXPECT_EQ(Caption(),
                  "Ошибка: Конфигурация прибора не прочитана: сначала прочитайте прибор.");
    }
    EXPECT_TRUE(controller_.ReceivedFrames().empty());
    // A reading opens the write.
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(WriteEnabled());
    EXPECT_TRUE(RewriteEnabled());
    // Without the service code the write stays closed whatever was read.
    SetPin("1234");
    EXPECT_FALSE(WriteEnabled());
}

TEST_F(FieldSafetyTest, AnOpenedFileIsRestoredWholeAfterItsOwnQuestionOrNotAtAll) {
    test::ScopedTempDir dir;
    auto file = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions o;
    o.seed = 11;
    o.serial = 500077;
    sim::GenerateContents(o, file->DeviceImage(), file->ArchiveImage());
    std::memcpy(file->ConfigShadow(), file->DeviceImage(), kImageSize);
    const std::string name = dir.File("500077.vi5");
    ASSERT_TRUE(SaveDataFile(name, *file));

    session_->ReadTekClick(true);  // a reading first: the file then takes its place
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    session_->OpenDataFile(name);
    EXPECT_FALSE(WriteEnabled());
    EXPECT_TRUE(RewriteEnabled());
    controller_.ClearReceivedFrames();
    session_->WriteCfgClick(false, false);
    EXPECT_FALSE(session_->Busy());
    EXPECT_TRUE(Caption().startsWith("Ошибка: Открыт файл, а не память прибора"))
        << Caption().toStdString();
    EXPECT_TRUE(controller_.ReceivedFrames().empty());

    // The restore asks, naming the file and what it replaces, and then writes it all.
    {
        Answerer answer;
        session_->WriteCfgClick(true, true);
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_TRUE(answer.texts[0].contains("будут заменены значениями из файла"));
        EXPECT_TRUE(answer.texts[0].contains(QString::fromStdString(name)));
        ASSERT_TRUE(WaitIdle());
    }
    EXPECT_EQ(Caption(), "Конфигурация записана");
    EXPECT_EQ(WritesReceived(), 111u);
    EXPECT_EQ(std::memcmp(controller_.Image().data() + addr::ConfigStart,
                          file->DeviceImage() + addr::ConfigStart, addr::ConfigLength),
              0);
}

TEST_F(FieldSafetyTest, WhatTheEmulationLeftInTheImageIsNotWritten) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    // One exchange of the plant emulation: T11 and the flag go into the image and out.
    session_->Emulation().TimerEmuTimer();
    ASSERT_TRUE(WaitIdle());
    const int t11 = CircuitField(0, rec::T11);
    ASSERT_EQ(std::memcmp(areas_->DeviceImage() + t11, controller_.Image().data() + t11, 2), 0);
    // The controller measures again; the emulated value must not come back with the next write.
    PutI16(image_.get(), t11, 4517);
    auto now = controller_.Image();
    PutI16(now.data(), t11, 4517);
    controller_.Load(now.data(), archive_.get());
    controller_.ClearReceivedFrames();
    session_->WriteCfgClick(false, false);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Caption(), "Конфигурация записана");
    EXPECT_EQ(WritesReceived(), 0u);
    EXPECT_EQ(I16(controller_.Image().data(), t11), 4517);
}

TEST_F(FieldSafetyTest, AFailedSerialNumberWriteLeavesTheNumberOutOfLaterWrites) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    UseSerialSimulator();
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    serialFaults_.Set(silence);
    {
        Answerer answer;
        Control<QPushButton>("NextSerial")->click();
        ASSERT_TRUE(WaitIdle());
        EXPECT_FALSE(answer.texts.isEmpty());
    }
    EXPECT_TRUE(Caption().startsWith("Ошибка: ")) << Caption().toStdString();
    // With TCP chosen, the failure names the COM port the command went to.
    EXPECT_TRUE(
        Caption().endsWith("(через порт " + QString::fromStdString(pty_->SlavePath()) + ", RS485)"))
        << Caption().toStdString();
    EXPECT_EQ(I32(areas_->DeviceImage(), addr::DevNumber), 500042);
    controller_.ClearReceivedFrames();
    session_->WriteCfgClick(false, false);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Caption(), "Конфигурация записана");
    EXPECT_EQ(WritesReceived(), 0u);
    EXPECT_EQ(I32(controller_.Image().data(), addr::DevNumber), 500042);
}

TEST_F(FieldSafetyTest, TheQuestionNamesEveryChangeOnceAndInTheWindowsTerms) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    // A value graph entry: row 5 of graph 1 of circuit 1, 12:15 on Saturday and Sunday, 4.
    Control<QPushButton>("ShowGr")->click();
    auto* editor = session_->Window().findChild<TValueGraph*>();
    ASSERT_NE(editor, nullptr);
    editor->findChild<QTableWidget*>("GraphGrid")->setCurrentCell(5, 1);
    editor->findChild<QSpinBox*>("RxSpinEditH")->setValue(12);
    editor->findChild<QSpinBox*>("RxSpinEditM")->setValue(15);
    for (int d = 1; d <= 7; ++d)
        editor->findChild<QCheckBox*>(QString("W%1").arg(d))->setChecked(d >= 6);
    editor->findChild<QSpinBox*>("RxSpinEditV")->setValue(4);
    editor->findChild<QPushButton*>("Apply")->click();
    const QString row = "контур 1, График 1, строка 5: — → 12:15 Сб. Вс. 4";
    {
        Answerer answer;
        session_->WriteCfgClick(false, true);
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_TRUE(answer.texts[0].contains(row)) << answer.texts[0].toStdString();
        EXPECT_FALSE(answer.texts[0].contains("Байт")) << answer.texts[0].toStdString();
    }
    EXPECT_EQ(Caption(), "Конфигурация записана");
    // Written: the next question does not offer it again, though the same bytes go once more.
    {
        Answerer answer;
        session_->WriteCfgClick(false, true);
        ASSERT_TRUE(WaitIdle());
        ASSERT_EQ(answer.texts.size(), 1);
        EXPECT_FALSE(answer.texts[0].contains(row)) << answer.texts[0].toStdString();
        EXPECT_TRUE(answer.texts[0].contains("Изменённых значений нет."))
            << answer.texts[0].toStdString();
    }
}

TEST_F(FieldSafetyTest, AStoppedArchiveReadSaysSoAndKeepsTheDataFile) {
    // A controller that stops inside the second block and answers nothing more until stopped;
    // the link waits long enough for the stop to come first on any machine.
    session_.reset();
    LinkTiming slow = test::Fast();
    slow.replyTicksCreated = 4000;  // 20 s of silence before a wait gives up
    session_ = std::make_unique<WindowSession>(*areas_, commandLine_, StartupOutcome{}, log_, slow);
    session_->FormShow();
    PointDialogAtSimulator();
    sim::FaultRule stall;
    stall.kind = sim::FaultKind::Stall;
    stall.every = 3;  // the image, the first block, then the second block stalls
    stall.stallMs = 600000;
    stall.limit = 1;
    faults_.Set(stall);

    MemoryAreas named;
    named.ProgramDir = areas_->ProgramDir;
    PutI32(named.DeviceImage(), addr::DevNumber, 500042);
    const std::string dataFile = ArchiveDataFileName(named);
    test::WriteFile(dataFile, "a good reading");

    session_->ReadArchClick();
    auto archiveFrames = [this] {
        std::size_t n = 0;
        for (const auto& f : controller_.ReceivedFrames())
            n += f.size() > 4 && f[4] == kOpArchive;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return archiveFrames() >= 2; }));
    session_->StopButtonClick();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Caption().toStdString(),
              "Чтение архива остановлено: прочитано 1 из 4 блоков, файл данных не сохранён");
    EXPECT_EQ(test::ReadFile(dataFile), "a good reading");
    std::filesystem::remove(dataFile);
    // What was read is shown.
    EXPECT_GT(session_->findChild<ArchiveView*>()->Data().Rows().size(), 0u);
    EXPECT_TRUE(session_->Window().ReadPanelVisible());
    tcp_.reset();  // ends the stalled reply
}

TEST_F(FieldSafetyTest, ACycleThatEndedLeavesNoModeBehind) {
    const std::uint16_t port = tcp_->Port();
    tcp_.reset();  // nothing listens: the connection cannot be made
    session_->ReadCycleClick();
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(Caption().endsWith("Невозможно установить соединение")) << Caption().toStdString();
    EXPECT_FALSE(session_->CycleMode());

    tcp_ = std::make_unique<sim::TcpServer>(controller_, faults_, port);
    std::string error;
    ASSERT_TRUE(tcp_->Start(error)) << error;
    session_->ReadArchClick();
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(Caption().startsWith("Чтение успешно ")) << Caption().toStdString();
    // Nothing follows by itself.
    QApplication::processEvents();
    EXPECT_FALSE(session_->Busy());
    EXPECT_TRUE(session_->Window().ReadPanelVisible());
}

TEST_F(FieldSafetyTest, CyclicReadingStartsOnAnEmptyChart) {
    session_->ReadArchClick();
    ASSERT_TRUE(WaitIdle());
    auto* view = session_->findChild<ArchiveView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_GT(view->Data().Shown().size(), 10u);
    session_->ReadCycleClick();
    EXPECT_TRUE(view->Data().Shown().empty());
    EXPECT_EQ(view->Series(0)->count(), 0);
    // The first cyclic read is the chart's first point.
    ASSERT_TRUE(WaitFor([&] { return !view->Data().Shown().empty(); }));
    session_->StopButtonClick();
    ASSERT_TRUE(WaitIdle());
    EXPECT_LE(view->Data().Shown().size(), 2u);
}

TEST_F(FieldSafetyTest, TheNextSerialNumberIsOfferedAsSoonAsOneIsWritten) {
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    SetPin("2749");
    UseSerialSimulator();
    auto* next = Control<QPushButton>("NextSerial");
    const int offered = next->text().toInt();
    ASSERT_GT(offered, 500001);
    {
        Answerer answer;
        next->click();
        ASSERT_TRUE(WaitIdle());
    }
    EXPECT_EQ(Caption(), "S/N записан");
    EXPECT_EQ(I32(serialController_.Image().data(), addr::DevNumber), offered);
    EXPECT_EQ(next->text(), QString::number(offered + 1));  // before the read that follows
}

// A data file named alone on the command line is opened and written out there; the window
// shows it without writing the text output once more.
TEST_F(FieldSafetyTest, ADataFileFromTheCommandLineIsNotWrittenOutAgain) {
    test::ScopedTempDir dir;
    auto file = std::make_unique<MemoryAreas>();
    sim::GeneratorOptions o;
    sim::GenerateContents(o, file->DeviceImage(), file->ArchiveImage());
    std::memcpy(file->ConfigShadow(), file->DeviceImage(), kImageSize);
    ASSERT_TRUE(SaveDataFile(dir.File("500001.vi5"), *file));
    session_.reset();
    areas_->ProgramDir.clear();  // as at the program's start
    commandLine_ = ParseCommandLine({"500001.vi5"});
    const StartupOutcome startup = ProcessCommandLine(commandLine_, *areas_, log_);
    ASSERT_TRUE(startup.openedFile);
    EXPECT_FALSE(std::filesystem::exists(dir.File("def.txt")));
    session_ = std::make_unique<WindowSession>(*areas_, commandLine_, startup, log_, test::Fast());
    EXPECT_FALSE(std::filesystem::exists(dir.File("def.txt")));
    EXPECT_EQ(Control<QLabel>("PanelSerial")->text(), "S/N 500001");
    // Opened from a file: a restore is possible, a changed-values write is not.
    SetPin("2749");
    EXPECT_FALSE(WriteEnabled());
    EXPECT_TRUE(RewriteEnabled());
    session_.reset();
    log_.Close();
}

// With an empty -o the command line stops before its run: the dialog keeps the saved settings.
TEST_F(FieldSafetyTest, AnEmptyOutputNameLeavesTheDialogToItsSettings) {
    session_.reset();
    CommandLine plain;
    plain.outputName.clear();
    session_ =
        std::make_unique<WindowSession>(*areas_, plain, StartupOutcome{}, log_, test::Fast());
    session_->FormShow();
    const ConnectionValues saved = session_->Connection().ConnectionValues();
    session_.reset();

    commandLine_ = ParseCommandLine({"-o", "-si10.9.8.7", "-sp4321", "-n77"});
    const StartupOutcome startup = ProcessCommandLine(commandLine_, *areas_, log_);
    ASSERT_EQ(startup.kind, StartupOutcome::StartNormally);
    session_ = std::make_unique<WindowSession>(*areas_, commandLine_, startup, log_, test::Fast());
    session_->FormShow();
    const ConnectionValues shown = session_->Connection().ConnectionValues();
    EXPECT_NE(shown.host, "10.9.8.7");
    EXPECT_NE(shown.netAddr, 77);
    EXPECT_EQ(shown.host, saved.host);
    EXPECT_EQ(shown.netAddr, saved.netAddr);
    EXPECT_EQ(shown.IsTcp(), saved.IsTcp());
    commandLine_.commandLineRun = 0;  // the fixture's session must not end the process
}

}  // namespace
}  // namespace vir05
