// The program with its window: the data module's areas and link, the main window, the
// connection dialog, and the command cycle between them.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_driver.h"
#include "core/cli_run.h"
#include "core/present/present.h"
#include "core/present/write_plan.h"
#include "link/rwclass.h"
#include "model/locations.h"
#include "ui/connect/connect.h"
#include "ui/main/vir_cfg.h"

namespace vir05 {

class ArchiveView;
class TValueGraph;
class TFormComPort;
class ServiceActions;
class SpreadsheetExport;
class EmulationPage;
class StatusLine;
class WindowPlace;

class WindowSession : public QObject {
    Q_OBJECT

  public:
    // `startup` is what the command line decided: a command to start at once (-show), a data
    // file already loaded for the window, or nothing.
    // `decimalSeparator` is the user's own, for the spreadsheet export.
    WindowSession(MemoryAreas& areas, CommandLine& commandLine, const StartupOutcome& startup,
                  RunLog& log, const LinkTiming& timing = LinkTiming::Default(),
                  std::string decimalSeparator = ".");
    ~WindowSession() override;

    TFormCfg& Window() { return *window_; }
    TFormConnect& Connection() { return *connect_; }
    TRWClass& Link() { return *link_; }
    const std::string& WorkDir() const { return workDir_; }
    const FileLocations& Locations() const { return locations_; }
    EmulationPage& Emulation() { return *emulation_; }
    StatusLine& Status() { return *status_; }
    // Remembers the places of the window, its dialogs and its last page in `settingsPath`.
    void KeepPlaces(const std::string& settingsPath);

    // The handlers of the window, callable with or without a user's click.
    void FormShow();
    // The presentation; `writeTextOutput` false leaves the text output alone.
    void ChSys(bool writeTextOutput = true);
    bool WriteClick();
    void ReadTekClick(bool byUser);
    void ReadCycleClick();
    void ReadArchClick();
    void WriteCfgClick(bool rewrite, bool confirm = true);
    void StopButtonClick();
    void ErrCountClick();
    void SelectCircuit(int circuit);
    void OpenDataFile(const std::string& name);
    void OpenClick();
    void SaveClick();
    void FormClose();
    void Timer1Timer();

    bool CycleMode() const { return cycleMode_; }
    // The image holds a reading of the controller: a changed-values write has a reference.
    bool ControllerRead() const { return controllerRead_; }
    bool Busy() const { return timer1_.isActive(); }

  private:
    // Starts `command` over the transport the connection dialog has chosen.
    bool StartCommand(int command, int archiveSlots = 0);
    void RestorePanels();
    std::string PortCaption() const;
    void StoreWorkDir(const std::string& chosenFile);
    // Makes the user's settings and data directories of an installed program.
    void UseUserDirectories();
    // Collects the controls into `target`'s image, the untouched fields left as they were.
    bool CollectInto(MemoryAreas& target) const;
    bool CollectInto(const ControlState& in, MemoryAreas& target) const;
    void WireServiceAndExport();
    void WireEmulation();
    void SetCycleMode(bool on);
    // The write controls follow the service mode and what the image holds.
    void UpdateWriteEnabled();
    // The configuration write's question: what goes out, by field, against the controller.
    QString WriteQuestion(bool rewrite, const ControlState& in) const;

    MemoryAreas& areas_;
    CommandLine& commandLine_;
    RunLog& log_;
    std::unique_ptr<TRWClass> link_;
    std::unique_ptr<CommandDriver> driver_;
    std::unique_ptr<TFormCfg> window_;
    std::unique_ptr<TFormConnect> connect_;
    std::unique_ptr<TFormComPort> comport_;
    PresentationState presentation_;
    ControlState shown_controls_;  // the controls as the last presentation left them
    std::unique_ptr<ArchiveView> archive_;
    std::unique_ptr<TValueGraph> graph_;
    std::unique_ptr<ServiceActions> service_;
    std::unique_ptr<SpreadsheetExport> exporter_;
    std::unique_ptr<EmulationPage> emulation_;
    std::unique_ptr<StatusLine> status_;
    std::string placesPath_;  // empty: places are not remembered
    // The user's own decimal separator, kept before the program formats every number with ".".
    std::string decimalSeparator_;
    QTimer timer1_;
    bool cycleMode_ = false;
    bool shown_ = false;
    int commandLineConnect_ = 0;
    FileLocations locations_;  // settings, data and help: beside the program or the user's
    std::string workDir_;
    std::string nextSerial_ = "500002";
    bool serviceMode_ = false;
    // A service command sent to the COM port while another connection is chosen: its port, for
    // the failure caption.
    std::string serialLineNote_;
    // What the image holds: a reading of the controller (its memory as last read, with what
    // later writes have sent, is in controller_), or a data file the user opened.
    bool controllerRead_ = false;
    std::string openedFile_;
    std::array<std::uint8_t, kImageSize> controller_{};
    // The running configuration write: what it sends, for controller_ when it succeeds.
    std::vector<ByteSpan> writeSpans_;
    std::array<std::uint8_t, kImageSize> writeImage_{};
};

// Runs the program with its window; returns the process's exit code.
int RunWindow(int argc, char** argv, CommandLine& commandLine, const StartupOutcome& startup,
              MemoryAreas& areas, RunLog& log);

}  // namespace vir05
