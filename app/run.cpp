#include "app/run.h"

#include "app/hidden_run.h"
#ifdef VIR05_WITH_WINDOW
#include "app/window_run.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/cli_run.h"
#include "core/cmdline.h"
#include "core/protocol/trace.h"
#include "core/run_log.h"
#include "model/locations.h"
#include "model/memory.h"

namespace vir05 {

namespace {
// The directory of this executable, with a trailing '/'.
std::string ExecutableDir() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("./") : exe.parent_path().string() + "/";
}

// Whether a window can be shown: an X or Wayland display, or a platform chosen explicitly
// (offscreen, say).
bool HasDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}
}  // namespace

int RunProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine commandLine = ParseCommandLine(args);
    // The areas live for the whole process and are never reallocated.
    static MemoryAreas areas;
    static RunLog runLog;
    // An installed program that opens its window writes its trace and text output into the
    // user's data directory, not into whatever directory the desktop started it in; unattended
    // runs and conversions write into the working directory.
    const bool windowStart = commandLine.commandLineRun != kRunHidden && !commandLine.convert;
    const FileLocations locations = ProgramLocations(ExecutableDir());
    std::string traceName = "test.txt";
    if (windowStart && locations.installed) {
        std::error_code ignored;  // a directory that cannot be made fails later like a full disk
        std::filesystem::create_directories(locations.dataDir, ignored);
        areas.ProgramDir = locations.dataDir;
        traceName = locations.dataDir + traceName;
    }
    // Every start begins a fresh byte trace, also one that ends before any link exists (a
    // conversion, a data file on the line, no display): an old trace is never left to be read
    // as this run's.
    { const TraceLog freshTrace(traceName); }

    const StartupOutcome outcome = ProcessCommandLine(commandLine, areas, runLog);
    if (outcome.kind == StartupOutcome::Exit) {
        if (outcome.exitCode != 0 && !outcome.caption.empty())
            std::fprintf(stderr, "vir05win: %s\n", outcome.caption.c_str());
        return outcome.exitCode;
    }
    if (outcome.kind == StartupOutcome::StartCommand && outcome.hidden)
        return RunHiddenCommand(argc, argv, commandLine, outcome, areas, runLog);
    if (!HasDisplay()) {
        // The window cannot open here; a command the command line asked for still runs.
        if (outcome.kind == StartupOutcome::StartCommand) {
            std::fprintf(stderr, "vir05win: нет дисплея, команда выполняется без окна\n");
            commandLine.commandLineRun = kRunHidden;
            return RunHiddenCommand(argc, argv, commandLine, outcome, areas, runLog);
        }
        std::fprintf(stderr, "vir05win: нет дисплея для окна программы\n");
        return static_cast<int>(ExitCode::Failure);
    }
#ifdef VIR05_WITH_WINDOW
    return RunWindow(argc, argv, commandLine, outcome, areas, runLog);
#else
    std::fprintf(stderr, "vir05win: собрано без окна программы\n");
    return static_cast<int>(ExitCode::Failure);
#endif
}

}  // namespace vir05
