#include "core/cli_run.h"

#include <cstdio>

#include "core/snapshot.h"
#include "core/text_output.h"

namespace vir05 {

OpenStage OpenAndWriteTextOutput(const std::string& given, MemoryAreas& areas,
                                 const std::string& outputName, RunLog& log, std::string& caption) {
    const std::string name = StripShellQuotes(given);
    const OpenStage stage = LoadDataFile(name, areas);
    if (stage != OpenStage::None) {
        caption = name + " ошибка " + OpenStageText(stage);
        return stage;
    }
    const ImageSnapshot snapshot = TakeSnapshot(areas.DeviceImage());
    const TextOutputSource source{snapshot, areas.DeviceImage(), areas.ArchiveImage(),
                                  PanelTimeText(areas.DeviceImage())};
    WriteTextOutput(outputName, areas.ProgramDir, source, log);
    caption = name;
    return OpenStage::None;
}

StartupOutcome ProcessCommandLine(CommandLine& cl, MemoryAreas& areas, RunLog& log) {
    StartupOutcome out;
    // Data files named on the line open where they stand, with the text output name given
    // before them; where a run was already asked for, the opened file is converted and the run
    // ends.
    for (const auto& file : cl.dataFiles) {
        out.caption = file.name;
        const OpenStage stage =
            OpenAndWriteTextOutput(file.name, areas, file.outputAtArg, log, out.caption);
        if (stage == OpenStage::None) {
            if (file.runAtArg != 0) {
                out.kind = StartupOutcome::Exit;
                out.exitCode = static_cast<int>(ExitCode::Success);
                return out;
            }
            out.openedFile = true;
        }
    }

    if (cl.outputName.empty()) return out;  // no log, no command

    std::remove(cl.outputName.c_str());
    const std::string logName = cl.outputName + ".log";
    std::remove(logName.c_str());
    if (log.Open(logName)) {
        log.WriteLine("log start");
        log.WriteLine("log begin");
    }
    if (cl.convert) {
        const OpenStage stage =
            OpenAndWriteTextOutput(cl.convertFile, areas, cl.outputName, log, out.caption);
        if (stage == OpenStage::None) {
            out.kind = StartupOutcome::Exit;
            out.exitCode = static_cast<int>(ExitCode::Success);
            return out;
        }
        // An unattended conversion whose file cannot be opened fails: there is no user to see a
        // window, and the caller must not take an old output for this file's.
        if (cl.commandLineRun != kRunShow) {
            out.kind = StartupOutcome::Exit;
            out.exitCode = static_cast<int>(ExitCode::Failure);
            return out;
        }
    }

    out.commandLineConnect = cl.commandLineRun;
    if (cl.commandLineRun != kRunHidden && cl.commandLineRun != kRunShow) return out;
    out.hidden = cl.commandLineRun == kRunHidden;
    if (cl.commandLineRun == kRunShow) cl.commandLineRun = 0;  // the program stays open afterwards
    out.kind = StartupOutcome::StartCommand;
    out.command = cl.Command();
    return out;
}

}  // namespace vir05
