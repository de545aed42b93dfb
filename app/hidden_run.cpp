#include "app/hidden_run.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "core/completion.h"
#include "core/snapshot.h"
#include "core/text_output.h"
#include "link/rwclass.h"
#include "model/datafile.h"
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
    // The settings file beside the program maps "COMn" to devices; the run itself keeps no
    // settings and writes its files to the working directory.
    const std::string settingsPath =
        QDir(QCoreApplication::applicationDirPath()).filePath(kSettingsFileName).toStdString();
    TRWClass link(areas, LinkTiming::Default(), "test.txt", settingsPath);
    std::string caption;
    link.SetShowLinkText([&caption](const std::string& text) { caption = text; });

    const int command = outcome.command;
    if (!cl.host.empty())
        link.StartTcpCommand(command, cl.host, cl.tcpPort, cl.NetAddress(),
                             areas.ReceiveArea.data(), &areas.ProgressCell);
    else
        link.StartSerialCommand(command, cl.PortName(), cl.NetAddress(), cl.phone,
                                static_cast<std::uint32_t>(cl.baudRate), areas.ReceiveArea.data(),
                                &areas.ProgressCell);
    if (cl.archiveSlots != 0) link.Request().ArchiveSlots = cl.archiveSlots;

    int exitCode = static_cast<int>(ExitCode::Failure);
    QTimer cycle;
    cycle.setInterval(10);
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        link.ServeSynchronize();
        if (!link.Parked()) return;
        cycle.stop();
        const int status = link.GetStatus();
        const LinkRequest& req = link.Request();
        if (status != 0) {
            if (status != -1)
                caption = "Ошибка: " +
                          QLocale()
                              .toString(QDateTime::currentDateTime(), QLocale::ShortFormat)
                              .toStdString() +
                          " " + req.ErrorText;
            else
                caption = req.ErrorText;
            exitCode = static_cast<int>(ExitCode::Failure);
        } else {
            const int done = req.Command.load();
            if (done == kCmdReadCurrent || done == kCmdReadArchive) {
                TakeOverRead(areas, done == kCmdReadArchive);
                Present(areas, cl, log);
                caption = "Чтение успешно " + ElapsedText(req.DurationDays());
                if (done == kCmdReadArchive && !SaveDataFile(ArchiveDataFileName(areas), areas))
                    caption = "Ошибка: не удалось записать файл " + ArchiveDataFileName(areas);
                else
                    exitCode = static_cast<int>(ExitCode::Success);
            } else {
                // The clock write: its follow-up read would be abandoned at once, so it is not
                // started; the run ends with the write's success.
                if (done == kCmdSetClock) caption = "Коррекция времени произведена";
                exitCode = static_cast<int>(ExitCode::Success);
            }
        }
        std::fprintf(stderr, "vir05win: %s\n", caption.c_str());
        app.exit(exitCode);
    });
    cycle.start();
    app.exec();
    return exitCode;
}

}  // namespace vir05
