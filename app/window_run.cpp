#include "app/window_run.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>
#include <cstring>
#include <filesystem>

#include "core/completion.h"
#include "core/format.h"
#include "core/present/untouched.h"
#include "core/protocol/commands.h"
#include "core/text_output.h"
#include "model/datafile.h"
#include "model/locations.h"
#include "model/ports.h"
#include "model/settings.h"
#include "ui/connect/comport.h"
#include "ui/graph/graph.h"
#include "ui/main/about.h"
#include "ui/main/archive_view.h"
#include "ui/main/binder.h"
#include "ui/main/emulation.h"
#include "ui/main/export.h"
#include "ui/main/service_actions.h"
#include "ui/main/status_line.h"
#include "ui/main/window_frame.h"

namespace vir05 {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string DirectoryOf(const std::string& file) {
    std::string dir = QFileInfo(Q(file)).absolutePath().toStdString();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// Drops of files on the window open data files.
class DropFilter : public QObject {
  public:
    explicit DropFilter(WindowSession& session) : QObject(nullptr), session_(session) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::DragEnter) {
            auto* drag = static_cast<QDragEnterEvent*>(event);
            if (drag->mimeData()->hasUrls()) drag->acceptProposedAction();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            for (const QUrl& url : drop->mimeData()->urls()) {
                const std::string name = url.toLocalFile().left(255).toStdString();
                session_.Window().SetCaption(Q(name));
                // Only names with ".vi5" in them, exactly so, are opened.
                if (name.find(".vi5") != std::string::npos) session_.OpenDataFile(name);
            }
            drop->acceptProposedAction();
            return true;
        }
        return false;
    }

  private:
    WindowSession& session_;
};

}  // namespace

WindowSession::WindowSession(MemoryAreas& areas, CommandLine& commandLine,
                             const StartupOutcome& startup, RunLog& log, const LinkTiming& timing,
                             std::string decimalSeparator)
    : areas_(areas),
      commandLine_(commandLine),
      log_(log),
      decimalSeparator_(std::move(decimalSeparator)) {
    window_ = std::make_unique<TFormCfg>();
    locations_ = ProgramLocations(QCoreApplication::applicationDirPath().toStdString() + "/");
    // An installed program keeps the link's trace with its other files, not wherever the
    // desktop started it.
    UseUserDirectories();
    const std::string trace = locations_.installed ? locations_.dataDir + "test.txt" : "test.txt";
    link_ = std::make_unique<TRWClass>(areas_, timing, trace, SettingsPath(locations_.settingsDir));
    link_->SetShowLinkText([this](const std::string& text) { window_->SetCaption(Q(text)); });
    driver_ = std::make_unique<CommandDriver>(*link_, areas_);
    status_ = std::make_unique<StatusLine>(window_->statusBar(), [this](const std::string& p) {
        IniFile ini;
        ini.Load(SettingsPath(locations_.settingsDir));
        return ResolvePortDevice(p, &ini);
    });
    connect_ = std::make_unique<TFormConnect>(window_.get());
    connect_->setWindowFlag(Qt::Window);
    AddRussianHints(*connect_);
    // The COM port browser gives the dialog its port list; "?" refreshes and shows it.
    comport_ = std::make_unique<TFormComPort>(window_.get());
    comport_->setWindowFlag(Qt::Window);
    AttachComPortBrowser(*connect_, *comport_);
    connect(connect_.get(), &TFormConnect::portBrowserRequested, this,
            [this] { comport_->ShowBrowser(); });
    // The dialog takes the command line's values only when the command line went as far as its
    // run (an empty -o stops it before): a command, or run options with the window.
    commandLineConnect_ =
        startup.commandLineConnect != 0 || startup.kind == StartupOutcome::StartCommand ? -1 : 0;
    connect_->SetCommandLine(commandLine, commandLineConnect_);
    status_->FollowDialog(connect_.get(), [this] { return connect_->ConnectionValues(); });

    timer1_.setInterval(10);
    connect(&timer1_, &QTimer::timeout, this, &WindowSession::Timer1Timer);
    TFormCfg* w = window_.get();
    connect(w, &TFormCfg::ReadTekClick, this, [this] { ReadTekClick(true); });
    connect(w, &TFormCfg::ReadCycleClick, this, &WindowSession::ReadCycleClick);
    connect(w, &TFormCfg::ReadArchClick, this, &WindowSession::ReadArchClick);
    connect(w, &TFormCfg::WriteCfgClick, this, [this](bool rewrite) { WriteCfgClick(rewrite); });
    connect(w, &TFormCfg::StopButtonClick, this, &WindowSession::StopButtonClick);
    connect(w, &TFormCfg::ErrCountClick, this, &WindowSession::ErrCountClick);
    connect(w, &TFormCfg::RadioButtonS0Click, this, [this] { SelectCircuit(0); });
    connect(w, &TFormCfg::RadioButtonS1Click, this, [this] { SelectCircuit(1); });
    connect(w, &TFormCfg::OpenClick, this, &WindowSession::OpenClick);
    connect(w, &TFormCfg::SaveClick, this, &WindowSession::SaveClick);
    connect(w, &TFormCfg::N2Click, this, [this] {
        connect_->show();
        connect_->raise();
    });
    connect(w, &TFormCfg::FormClose, this, &WindowSession::FormClose);
    connect(connect_.get(), &TFormConnect::ServiceModeChanged, this, [this](bool on) {
        window_->SetServicePagesVisible(on);
        serviceMode_ = on;
        UpdateWriteEnabled();
    });
    auto* drops = new DropFilter(*this);
    drops->setParent(this);
    window_->setAcceptDrops(true);
    window_->installEventFilter(drops);

    archive_ = std::make_unique<ArchiveView>(*window_, this);
    // The value graph editor: "Просмотр" opens graph 0, "Просмотр графика 1,2" graph 1,
    // "Просмотр графика 3,4" graph 2 of the circuit shown.
    graph_ = std::make_unique<TValueGraph>(areas_, window_.get());
    graph_->setWindowFlag(Qt::Window);
    auto showGraph = [this](int k) {
        graph_->SetGraph(k);
        graph_->ShowItClick();
        graph_->ShowNonModal();
    };
    connect(window_->Circuits(), &PageCircuits::valueGraphRequested, this, showGraph);
    connect(window_->Pumps(), &PagePumps::valueGraphRequested, this, showGraph);
    window_->WireKorrMirror();
    WireServiceAndExport();
    WireEmulation();
    // An installed program writes to the user's data directory from the start, so also the
    // text output of a file named on the command line goes there.
    if (locations_.installed) areas_.ProgramDir = locations_.dataDir;
    if (!startup.caption.empty()) window_->SetCaption(Q(startup.caption));
    // A command the command line asked for with the window shown starts at once, with the
    // command line's connection values.
    if (startup.kind == StartupOutcome::StartCommand) {
        driver_->Start(startup.command, commandLine);
        status_->Started(startup.command, ConnectionValues{});
        window_->SetReadPanelVisible(false);
        timer1_.start();
    }
    if (startup.openedFile) {
        // The file named on the command line was opened, presented and written out there; the
        // window shows it without writing its text output a second time.
        openedFile_ = startup.caption;
        ChSys(false);
    }
    UpdateWriteEnabled();
}

WindowSession::~WindowSession() {
    timer1_.stop();
    link_->CancelCommand();
    link_->WaitParked();
}

void WindowSession::FormShow() {
    if (shown_) return;
    shown_ = true;
    // A copy in a folder of its own keeps everything beside the program; an installed one
    // keeps its settings and the files it writes by itself in the user's directories.
    UseUserDirectories();
    areas_.ProgramDir = locations_.dataDir;
    connect_->SetProgramDir(locations_.settingsDir);
    connect_->ButtonCancelClick(nullptr);
    if (commandLineConnect_ != 0) connect_->ModulSet(nullptr);
    // The pages follow the PIN code also when the command line gave the connection.
    connect_->ShowFullClick(nullptr);
    window_->PageControl()->setCurrentIndex(0);
    if (!placesPath_.empty()) RestoreLastPage(*window_->PageControl(), placesPath_);
    if (!Busy()) status_->SetLine(connect_->ConnectionValues());
    const WorkSettings s = LoadWorkSettings(locations_.settingsDir, locations_.dataDir);
    workDir_ = s.workDir;
    nextSerial_ = s.nextSerial;
    ControlState serial;
    serial["NextSerial"].text = nextSerial_;
    ApplyControlState(window_->Pages(), serial);
}

void WindowSession::UseUserDirectories() {
    if (!locations_.installed) return;
    std::error_code ignored;  // a directory that cannot be made fails later like a full disk
    std::filesystem::create_directories(locations_.settingsDir, ignored);
    std::filesystem::create_directories(locations_.dataDir, ignored);
}

void WindowSession::ChSys(bool writeTextOutput) {
    ControlState state;
    PresentImage(areas_, presentation_, state);
    state["NextSerial"].text = nextSerial_;
    ApplyControlState(window_->Pages(), state);
    // What the controls show now: a later collect writes only the fields that differ from it.
    shown_controls_ = ReadControlState(window_->Pages());
    archive_->FillEvents(areas_.ArchiveImage());
    archive_->Fill(areas_, areas_.SelectedCircuit, presentation_.snapshot);
    graph_->ShowItClick();  // the editor follows every presentation, shown or not
    if (writeTextOutput && !commandLine_.outputName.empty())
        WriteTextOutputOf(commandLine_.outputName, areas_, log_);
}

bool WindowSession::CollectInto(MemoryAreas& target) const {
    return CollectInto(ReadControlState(window_->Pages()), target);
}

bool WindowSession::CollectInto(const ControlState& in, MemoryAreas& target) const {
    std::array<std::uint8_t, kImageSize> before;
    std::memcpy(before.data(), target.DeviceImage(), kImageSize);
    if (!CollectControls(in, target)) return false;
    if (!shown_controls_.empty()) KeepUntouchedFields(in, shown_controls_, before.data(), target);
    return true;
}

bool WindowSession::WriteClick() {
    if (!CollectInto(areas_)) {
        window_->SetCaption(Q(std::string(kCollectFailedCaption)));
        return false;
    }
    ChSys();
    return true;
}

void WindowSession::WireServiceAndExport() {
    ServiceQueries queries;
    queries.linkBusy = [this] { return !link_->Parked(); };
    service_ = std::make_unique<ServiceActions>(window_->Service(), areas_.DeviceImage(),
                                                std::move(queries), this);
    connect(service_.get(), &ServiceActions::serviceCommandRequested, this,
            [this](int command, bool serialLine) {
                const ConnectionTexts t = connect_->Texts();
                serialLineNote_ = serialLine && t.transport != Transport::Rs485
                                      ? " (через порт " + t.port + ", RS485)"
                                      : std::string();
                const ConnectionValues line =
                    serialLine ? connect_->ServiceConnectionValues() : connect_->ConnectionValues();
                driver_->Start(command, line);
                status_->Started(command, line);
                timer1_.start();
            });
    WireServiceToWindow(*service_, *window_, *connect_);
    connect(service_.get(), &ServiceActions::nextSerialChosen, this,
            [this](const std::string& n) { nextSerial_ = n; });

    ExportHooks exportHooks = ViewExportHooks(window_->Archive()->Grid());
    exportHooks.setCaption = [this](const QString& t) { window_->SetCaption(t); };
    exporter_ = std::make_unique<SpreadsheetExport>(window_.get(), std::move(exportHooks),
                                                    decimalSeparator_);
    TFormCfg* w = window_.get();
    connect(w, &TFormCfg::Excel1Click, this, [this](bool hourly) {
        exporter_->SetDirectory(Q(workDir_));
        exporter_->Excel1Click(hourly);
    });
    connect(w, &TFormCfg::HelpClick, this, [this] {
        HelpClick(Q(locations_.helpDir), {}, [this](const QString& t) { window_->SetCaption(t); });
    });
    connect(w, &TFormCfg::AboutMnuClick, this, [this] { AboutMnuClick(window_.get()); });
}

void WindowSession::WireEmulation() {
    EmulationQueries queries;
    queries.image = [this] { return areas_.DeviceImage(); };
    queries.circuit = [this] { return areas_.SelectedCircuit; };
    queries.linkBusy = [this] { return !link_->Parked(); };
    emulation_ = std::make_unique<EmulationPage>(window_->Emulation(), std::move(queries), this);
    connect(emulation_.get(), &EmulationPage::emulatorStepRequested, this, [this] {
        SetCycleMode(false);  // an emulator tick ends cyclic reading
        StartCommand(command::EmulatorStep);
        window_->SetCaption(Q("Эмуляция системы " + PortCaption()));
        window_->SetReadPanelVisible(false);
    });
    connect(emulation_.get(), &EmulationPage::readPanelRestoreRequested, this,
            &WindowSession::RestorePanels);
}

std::string WindowSession::PortCaption() const {
    const ConnectionTexts t = connect_->Texts();
    return "(" + t.port + ", Адр:" + t.netAddr + ")";
}

bool WindowSession::StartCommand(int command, int archiveSlots) {
    serialLineNote_.clear();
    // A start while the link runs only stops the running command; the cycle then reports it.
    const ConnectionValues line = connect_->ConnectionValues();
    const bool started = driver_->Start(command, line, archiveSlots);
    if (started) status_->Started(command, line);
    timer1_.start();
    return started;
}

void WindowSession::RestorePanels() {
    window_->SetProgressPanelVisible(false);
    window_->SetReadPanelVisible(true);
}

void WindowSession::UpdateWriteEnabled() {
    // A changed-values write needs the controller's memory to compare with; a full rewrite may
    // also restore an opened data file. Nothing is written from an image that holds neither.
    window_->SetWriteEnabled(serviceMode_ && controllerRead_,
                             serviceMode_ && (controllerRead_ || !openedFile_.empty()));
}

void WindowSession::SetCycleMode(bool on) {
    if (cycleMode_ == on) return;
    cycleMode_ = on;
    archive_->SetCycleMode(on);
}

void WindowSession::ReadTekClick(bool byUser) {
    if (byUser) SetCycleMode(false);
    StartCommand(command::ReadCurrent);
    window_->SetCaption(Q("Чтение " + PortCaption()));
    window_->SetReadPanelVisible(false);
}

void WindowSession::ReadCycleClick() {
    SetCycleMode(false);
    archive_->ClearChartTables();  // the chart's collected values start afresh
    SetCycleMode(true);
    ReadTekClick(false);
}

void WindowSession::ReadArchClick() {
    StartCommand(command::ReadArchive, commandLine_.archiveSlots);
    window_->SetCaption(Q("Чтение " + PortCaption()));
    window_->SetReadPanelVisible(false);
}

QString WindowSession::WriteQuestion(bool rewrite, const ControlState& in) const {
    QString text = "Записать конфигурацию в прибор?";
    // What the write will send, collected into a copy first.
    auto preview = std::make_unique<MemoryAreas>();
    preview->block = areas_.block;
    preview->SelectedCircuit = areas_.SelectedCircuit;
    if (!CollectInto(in, *preview)) return text;
    KeepOnlyEditableBytes(preview->DeviceImage(), areas_.ConfigShadow());
    if (!controllerRead_) {
        // A restore of the opened file: nothing read from the controller to compare with.
        return text +
               "\n\nКонфигурация прибора не прочитана. Все значения конфигурации в "
               "приборе, в том числе серийный номер, сетевой адрес и скорость обмена, "
               "будут заменены значениями из файла\n" +
               Q(openedFile_);
    }
    const auto changes = DescribeConfigWrite(preview->DeviceImage(), areas_.ConfigShadow(),
                                             controller_.data(), rewrite);
    if (rewrite) text += "\n\nБудут записаны все значения конфигурации.";
    if (changes.empty()) text += "\n\nИзменённых значений нет.";
    if (changes.empty() && !rewrite &&
        !ConfigWriteSpans(preview->DeviceImage(), areas_.ConfigShadow(), false).empty())
        text += " Уже записанные значения будут отправлены ещё раз.";
    if (!changes.empty()) text += "\n\nИзменятся:";
    for (const ConfigChange& c : changes) {
        QString where = c.circuit == 0 ? QString() : QString("контур %1, ").arg(c.circuit);
        text += "\n" + where + Q(c.field) + ": " + Q(c.oldText) + " → " + Q(c.newText);
    }
    return text;
}

void WindowSession::WriteCfgClick(bool rewrite, bool confirm) {
    if (!link_->Parked()) {  // a start while busy only stops the running command
        link_->CancelCommand();
        return;
    }
    // Without a reading of the controller the image is no reference for a write: an all-zero
    // image, or a data file whose values would replace the controller's in every sent span.
    if (!controllerRead_ && (!rewrite || openedFile_.empty())) {
        const QString why = openedFile_.empty()
                                ? "Конфигурация прибора не прочитана: сначала прочитайте прибор."
                                : "Открыт файл, а не память прибора: сначала прочитайте прибор "
                                  "или восстановите всю конфигурацию из файла командой "
                                  "\"Перезаписать конфигурацию\".";
        window_->SetCaption("Ошибка: " + why);
        if (confirm) QMessageBox::warning(window_.get(), "Ошибка", why, QMessageBox::Ok);
        return;
    }
    link_->Request().RewriteAll = rewrite ? 1 : 0;
    const std::string pin = connect_->PinCodeText().toStdString();
    const ControlState shown = ReadControlState(window_->Pages(), {"PinCode"});
    const auto it = shown.find("PinCode");
    const std::string controllerPin = it != shown.end() ? it->second.text : std::string();
    if (!IsServiceCode(pin) && pin != controllerPin) {
        if (confirm)
            QMessageBox::critical(window_.get(), "Ошибка", "Пин-код прибора введен неправильно",
                                  QMessageBox::Ok);
        connect_->show();
        connect_->FocusPinCode();
        return;
    }
    // The controls are read once: the question shows exactly what the write then sends.
    const ControlState in = ReadControlState(window_->Pages());
    if (confirm &&
        QMessageBox::question(window_.get(), "Подтвердите операцию", WriteQuestion(rewrite, in),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    if (!CollectInto(in, areas_)) {
        window_->SetCaption(Q(std::string(kCollectFailedCaption)));
        return;
    }
    // Only the engineer's edits go out: what the emulation or another command left in the image
    // is put back as the controller holds it.
    KeepOnlyEditableBytes(areas_.DeviceImage(), areas_.ConfigShadow());
    ChSys();
    writeSpans_ = ConfigWriteSpans(areas_.DeviceImage(), areas_.ConfigShadow(), rewrite);
    std::memcpy(writeImage_.data(), areas_.DeviceImage(), kImageSize);
    StartCommand(command::WriteConfig);
    window_->SetCaption(Q("Запись конфигурации " + PortCaption()));
    window_->SetReadPanelVisible(false);
}

void WindowSession::StopButtonClick() {
    SetCycleMode(false);
    link_->CancelCommand();
}

void WindowSession::ErrCountClick() {
    link_->Request().SkipWait = 1;
}

void WindowSession::SelectCircuit(int circuit) {
    // While a command sends image bytes the image holds still; reads leave it alone.
    const int running = link_->Request().StartCommand;
    if (!link_->Parked() && running != command::ReadCurrent && running != command::ReadArchive) {
        window_->SetCircuit(areas_.SelectedCircuit);
        return;
    }
    WriteClick();
    areas_.SelectedCircuit = circuit;
    window_->SetCircuit(circuit);
    ChSys();
}

void WindowSession::OpenDataFile(const std::string& given) {
    if (!link_->Parked()) {
        SetCycleMode(false);
        link_->CancelCommand();
        link_->WaitParked();
    }
    const std::string name = StripShellQuotes(given);
    const OpenStage stage = LoadDataFile(name, areas_);
    if (stage == OpenStage::None || stage == OpenStage::ReadArchive) {
        // The image now holds the file (or, when its archive could not be read, its image), not
        // the controller's memory; only a file that opened whole may be restored.
        controllerRead_ = false;
        openedFile_ = stage == OpenStage::None ? name : std::string();
        UpdateWriteEnabled();
    }
    if (stage != OpenStage::None) {
        window_->SetCaption(Q(name + " ошибка " + OpenStageText(stage)));
        return;
    }
    ChSys();
    window_->SetCaption(Q(name));
    status_->Opened(QFileInfo(Q(name)).fileName());
}

void WindowSession::StoreWorkDir(const std::string& chosenFile) {
    workDir_ = DirectoryOf(chosenFile);
    StoreSetting(locations_.settingsDir, "WorkDir", workDir_);
}

void WindowSession::OpenClick() {
    const QString name =
        QFileDialog::getOpenFileName(window_.get(), "Открыть файл", Q(workDir_),
                                     "Файлы данных ВИР-05 *.vi5 (*.vi5);;Все файлы: *.* (*)");
    if (name.isEmpty()) return;
    OpenDataFile(name.toStdString());
    StoreWorkDir(name.toStdString());
}

void WindowSession::SaveClick() {
    QFileDialog dialog(window_.get(), "Сохранить", Q(workDir_),
                       "Файлы данных ВИР-05 *.vi5 (*.vi5)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("vi5");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::string name = dialog.selectedFiles().front().toStdString();
    // A failed save is said, and never leaves a damaged file in place of a good one.
    if (!SaveDataFile(name, areas_)) window_->SetCaption(Q(FileNotWrittenCaption(name)));
    StoreWorkDir(name);
}

void WindowSession::KeepPlaces(const std::string& settingsPath) {
    placesPath_ = settingsPath;
    auto over = [](QWidget* owner) {
        return [owner] { return owner ? owner->frameGeometry() : QRect(); };
    };
    new WindowPlace(window_.get(), "FormCfg", settingsPath);
    new WindowPlace(connect_.get(), "FormConnect", settingsPath, over(window_.get()));
    new WindowPlace(graph_.get(), "ValueGraph", settingsPath, over(window_.get()));
    // The port browser opens beside the connection dialog, not over it.
    new WindowPlace(comport_.get(), "FormComPort", settingsPath, [this] {
        const QRect d = connect_->frameGeometry();
        return QRect(d.right() + 8, d.top(), comport_->width(), comport_->height());
    });
}

void WindowSession::FormClose() {
    if (!placesPath_.empty()) StoreLastPage(*window_->PageControl(), placesPath_);
    SetCycleMode(false);
    timer1_.stop();
    link_->CancelCommand();
    link_->WaitParked();  // serves the link's caption steps meanwhile
}

void WindowSession::Timer1Timer() {
    window_->SetProgressPanelVisible(true);
    window_->SetProgress(areas_.ProgressCell.load());
    window_->SetRetryCount(link_->Request().ErrorCount.load());
    const bool parked = driver_->Poll();
    status_->Tick();
    if (!parked) return;
    timer1_.stop();

    CycleReactions reactions;
    reactions.ended = [this](const Completion& c) {
        const CompletedCommand& done = c.done;
        // A serial-number write that did not go through leaves the serial number as it was.
        if (c.started == command::WriteSerial)
            service_->SerialWriteEnded(done.status == link_status::Success);
        if (done.status == link_status::Success && done.command == command::WriteConfig)
            ApplyConfigWrite(controller_.data(), writeImage_.data(), writeSpans_);
        // A cycle that has ended leaves no mode behind.
        if (cycleMode_ && c.outcome.followUp == 0) SetCycleMode(false);
        status_->Finished(done.status, done.durationDays * 86400.0, c.outcome.takeOverRead,
                          Q(done.errorText));
    };
    reactions.present = [this](const Completion&) {
        std::memcpy(controller_.data(), areas_.ConfigShadow(), kImageSize);
        controllerRead_ = true;
        openedFile_.clear();
        UpdateWriteEnabled();
        if (cycleMode_) archive_->AddCurrent(areas_);  // the chart collects each cyclic read
        ChSys();
    };
    const Completion c = driver_->TakeOver(cycleMode_, reactions);
    const CommandOutcome& o = c.outcome;
    if (!o.keepCaption)
        window_->SetCaption(Q(o.caption + (c.done.status > 0 ? serialLineNote_ : std::string())));
    if (o.restorePanels) RestorePanels();
    if (o.emulatorStep) emulation_->Complete(areas_.ReceiveArea.data());
    if (o.advanceSerial) {
        nextSerial_ = std::to_string(static_cast<long long>(ParseIntOr(nextSerial_, 0)) + 1);
        StoreSetting(locations_.settingsDir, "NextSerial", nextSerial_);
        // The button offers the next number at once, whatever the follow-up read brings.
        ControlState serial;
        serial["NextSerial"].text = nextSerial_;
        ApplyControlState(window_->Pages(), serial);
    }
    if (o.followUp != 0) {
        const int next = o.followUp;
        QTimer::singleShot(o.pauseMs, this, [this, next] {
            if (next == command::ReadArchive)
                ReadArchClick();
            else
                ReadTekClick(false);
        });
    }
    if (!c.DataFileSaved()) window_->SetCaption(Q(FileNotWrittenCaption(c.unsavedFile)));
    if (commandLine_.commandLineRun != 0) QCoreApplication::exit(c.ExitStatus());
}

int RunWindow(int argc, char** argv, CommandLine& commandLine, const StartupOutcome& startup,
              MemoryAreas& areas, RunLog& log) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("VIR05Win");
    InstallToolkitTranslations(app);
    const std::string separator = SystemDecimalSeparator();
    WindowSession session(areas, commandLine, startup, log, LinkTiming::Default(), separator);
    // Window places go to the same "vir05.ini" as the other settings, wherever that is kept.
    session.KeepPlaces(SettingsPath(session.Locations().settingsDir));
    session.Window().show();
    session.FormShow();
    return QApplication::exec();
}

}  // namespace vir05
