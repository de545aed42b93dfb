#include "app/hidden_run.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "core/command_cycle.h"
#include "core/completion.h"
#include "core/snapshot.h"
#include "core/text_output.h"
#include "link/rwclass.h"
#include "model/datafile.h"
#include "model/locations.h"
#include "model/settings.h"

namespace vir05 {

namespace {

// Writes the text output; false, with the reason, when it was not written whole.
bool Present(MemoryAreas& areas, const CommandLine& cl, RunLog& log, std::string& why) {
    const ImageSnapshot snapshot = TakeSnapshot(areas.DeviceImage());
    const TextOutputSource source{snapshot, areas.DeviceImage(), areas.ArchiveImage(),
                                  PanelTimeText(areas.DeviceImage())};
    return WriteTextOutput(cl.outputName, areas.ProgramDir, source, log, &why);
}

// The run log's last lines for a run that failed before its text output was written.
void LogFailure(RunLog& log, const std::string& reason) {
    log.WriteLine("(error!) " + reason);
    log.WriteLine("log end error");
    log.Close();
}

}  // namespace

int RunHiddenCommand(int argc, char** argv, CommandLine& cl, const StartupOutcome& outcome,
                     MemoryAreas& areas, RunLog& log) {
    QCoreApplication app(argc, argv);
    // The settings file (beside the program, or the user's for an installed program) maps
    // "COMn" to devices; the run itself keeps no settings and writes its files to the working
    // directory.
    const std::string settingsPath = SettingsPath(
        ProgramLocations(QCoreApplication::applicationDirPath().toStdString() + "/").settingsDir);
    TRWClass link(areas, LinkTiming::Default(), "test.txt", settingsPath);
    std::string caption;
    link.SetShowLinkText([&caption](const std::string& text) { caption = text; });

    const int command = outcome.command;
    link.StartCommandLineCommand(command, cl, areas);

    int exitCode = static_cast<int>(ExitCode::Failure);
    QTimer cycle;
    cycle.setInterval(10);
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        link.ServeSynchronize();
        if (!link.Parked()) return;
        cycle.stop();
        const LinkRequest& req = link.Request();
        CompletedCommand done;
        done.status = link.GetStatus();
        done.command = req.Command.load();
        done.errorText = req.ErrorText;
        done.durationDays = req.DurationDays();
        done.now =
            QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat).toStdString();
        const CommandOutcome outcome = CompleteCommand(done);
        if (!outcome.keepCaption) caption = outcome.caption;
        if (done.status == -1) caption = req.ErrorText;  // said on the console all the same
        exitCode = outcome.exitCode;
        bool failed = exitCode != static_cast<int>(ExitCode::Success);
        if (outcome.takeOverRead) TakeOverRead(areas, outcome.archiveRead);
        // The data file first: a run whose data file was not saved fails before its text
        // output could tell a scheduler otherwise.
        std::string why;
        if (outcome.saveDataFile && !SaveDataFile(ArchiveDataFileName(areas), areas, why)) {
            caption = "Ошибка: не удалось записать файл " + ArchiveDataFileName(areas) + ": " + why;
            failed = true;
        } else if (outcome.takeOverRead && !Present(areas, cl, log, why)) {
            caption = "Ошибка: " + why;
            failed = true;
        }
        if (failed) {
            exitCode = static_cast<int>(ExitCode::Failure);
            LogFailure(log, caption);  // nothing more once the text output has closed it
        }
        // A hidden run ends with its first command: follow-up reads are not started.
        std::fprintf(stderr, "vir05win: %s\n", caption.c_str());
        app.exit(exitCode);
    });
    cycle.start();
    app.exec();
    return exitCode;
}

}  // namespace vir05
