// Runs a program as a scheduler would: no display, a given working directory, an exit code.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace vir05::test {

struct ProcessResult {
    bool exited = false;  // false when it had to be killed or did not start
    int exitCode = -1;
};

// Starts `program` with `args` in `cwd`, with DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM
// removed from its environment; its standard error goes to `stderrPath` when one is given. Returns
// its pid, or -1 when it could not be started.
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd, const std::string& stderrPath = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (!stderrPath.empty() && !freopen(stderrPath.c_str(), "w", stderr)) _exit(127);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");  // a platform named explicitly counts as a display too
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Waits at most `limit` for a started program; past it, the program is killed and the result
// says it did not exit.
inline ProcessResult WaitProgram(pid_t pid,
                                 std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    if (pid < 0) return {};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!WIFEXITED(status)) return {};
    return {true, WEXITSTATUS(status)};
}

// Runs `program` and waits for it, as StartProgram and WaitProgram.
inline ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd,
                                std::chrono::milliseconds limit = std::chrono::seconds(60),
                                const std::string& stderrPath = {}) {
    return WaitProgram(StartProgram(program, args, cwd, stderrPath), limit);
}

}  // namespace vir05::test
