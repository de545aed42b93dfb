#include "app/run.h"

#include "app/hidden_run.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/cli_run.h"
#include "core/cmdline.h"
#include "core/run_log.h"
#include "model/memory.h"

namespace vir05 {

int RunProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine commandLine = ParseCommandLine(args);
    // The areas live for the whole process and are never reallocated.
    static MemoryAreas areas;
    static RunLog runLog;

    const StartupOutcome outcome = ProcessCommandLine(commandLine, areas, runLog);
    if (outcome.kind == StartupOutcome::Exit) {
        if (outcome.exitCode != 0 && !outcome.caption.empty())
            std::fprintf(stderr, "vir05win: %s\n", outcome.caption.c_str());
        return outcome.exitCode;
    }
    if (outcome.kind == StartupOutcome::StartCommand && outcome.hidden)
        return RunHiddenCommand(argc, argv, commandLine, outcome, areas, runLog);
    std::fprintf(stderr, "vir05win: окно программы в этой сборке ещё не доступно\n");
    return static_cast<int>(ExitCode::Failure);
}

}  // namespace vir05
