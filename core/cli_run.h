// Start-up processing of the command line, up to the start of the command.
#pragma once

#include <string>

#include "core/cmdline.h"
#include "core/run_log.h"
#include "model/datafile.h"
#include "model/memory.h"

namespace vir05 {

// Opens a data file into the areas and, when it opened, writes the text output of what it holds
// (the presentation of a run without a window). Returns the failing stage or OpenStage::None;
// `caption` becomes the name, or the name with " ошибка " and the stage text, or, when the text
// output could not be written (`written` false), the reason.
OpenStage OpenAndWriteTextOutput(const std::string& name, MemoryAreas& areas,
                                 const std::string& outputName, RunLog& log, std::string& caption,
                                 bool* written = nullptr);

struct StartupOutcome {
    enum Kind {
        Exit,           // the run is over: end the process with exitCode
        StartCommand,   // start `command` over the command-line connection and finish in the cycle
        StartNormally,  // no command: the program starts with its window
    } kind = StartNormally;
    int exitCode = 0;
    int command = 0;
    bool hidden = false;      // CommandLineRun was 1: the window is never shown
    bool openedFile = false;  // a data file was loaded for the window to present
    // CommandLineConnect: CommandLineRun as the command line left it, taken only when the run
    // went as far as its log; the connection dialog then starts from the command line's values.
    int commandLineConnect = 0;
    std::string caption;  // what the window's caption says after the start-up
};

// Runs the start-up steps: data files named on the line, the deletion of the old text output
// and run log, the fresh run log ("log start", "log begin"), the -z conversion, and the choice of
// the command. `commandLine.commandLineRun` is updated (-show becomes 0).
StartupOutcome ProcessCommandLine(CommandLine& commandLine, MemoryAreas& areas, RunLog& log);

}  // namespace vir05
