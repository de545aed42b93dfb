// A command-line run with the window hidden: one command, the text output, an exit code.
#pragma once

#include "core/cli_run.h"

namespace vir05 {

int RunHiddenCommand(int argc, char** argv, CommandLine& commandLine, const StartupOutcome& outcome,
                     MemoryAreas& areas, RunLog& log);

}  // namespace vir05
