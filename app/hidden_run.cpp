#include "app/hidden_run.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "app/command_driver.h"
#include "core/completion.h"
#include "core/protocol/commands.h"
#include "core/text_output.h"
#include "link/rwclass.h"
#include "model/locations.h"
#include "model/settings.h"

namespace vir05 {

namespace {

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
    CommandDriver driver(link, areas);
    driver.Start(outcome.command, cl);

    int exitCode = static_cast<int>(ExitCode::Failure);
    QTimer cycle;
    cycle.setInterval(10);
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        if (!driver.Poll()) return;
        cycle.stop();
        std::string textOutputWhy;
        bool textOutputWritten = true;
        CycleReactions reactions;
        // The text output only after the data file: a run whose data file was not saved fails
        // before its text output could tell a scheduler otherwise.
        reactions.present = [&](const Completion& c) {
            if (c.DataFileSaved())
                textOutputWritten = WriteTextOutputOf(cl.outputName, areas, log, &textOutputWhy);
        };
        const Completion c = driver.TakeOver(false, reactions);
        if (!c.outcome.keepCaption) caption = c.outcome.caption;
        if (c.done.status == link_status::Cancelled)
            caption = c.done.errorText;  // said on the console all the same
        exitCode = c.ExitStatus();
        if (!c.DataFileSaved()) {
            caption = FileNotWrittenCaption(c.unsavedFile, c.unsavedWhy);
        } else if (!textOutputWritten) {
            caption = "Ошибка: " + textOutputWhy;
            exitCode = static_cast<int>(ExitCode::Failure);
        }
        if (exitCode != static_cast<int>(ExitCode::Success))
            LogFailure(log, caption);  // nothing more once the text output has closed it
        // A hidden run ends with its first command: follow-up reads are not started.
        std::fprintf(stderr, "vir05win: %s\n", caption.c_str());
        app.exit(exitCode);
    });
    cycle.start();
    app.exec();
    return exitCode;
}

}  // namespace vir05
