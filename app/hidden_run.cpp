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

void Present(MemoryAreas& areas, const CommandLine& cl, RunLog& log) {
    const ImageSnapshot snapshot = TakeSnapshot(areas.DeviceImage());
    const TextOutputSource source{snapshot, areas.DeviceImage(), areas.ArchiveImage(),
                                  PanelTimeText(areas.DeviceImage())};
    WriteTextOutput(cl.outputName, areas.ProgramDir, source, log);
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
        if (outcome.takeOverRead) {
            TakeOverRead(areas, outcome.archiveRead);
            Present(areas, cl, log);
        }
        // A hidden run ends with its first command: follow-up reads are not started.
        if (outcome.saveDataFile && !SaveDataFile(ArchiveDataFileName(areas), areas)) {
            caption = "Ошибка: не удалось записать файл " + ArchiveDataFileName(areas);
            exitCode = static_cast<int>(ExitCode::Failure);
        }
        std::fprintf(stderr, "vir05win: %s\n", caption.c_str());
        app.exit(exitCode);
    });
    cycle.start();
    app.exec();
    return exitCode;
}

}  // namespace vir05
