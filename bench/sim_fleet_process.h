// A simulated fleet (`vir05sim fleet`) in a process of its own for the poller benchmarks; what
// is sent with Send ("records N") goes to its standard input.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

struct SimFleetProcess {
    pid_t pid = -1;
    int input = -1;
    std::string fleet;  // the fleet file the simulator writes for what it serves

    // Starts the simulator with `args` and waits (at most a minute) for its fleet file.
    bool Start(const std::string& dir, const std::vector<std::string>& args) {
        fleet = dir + "/fleet.toml";
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid = fork();
        if (pid == 0) {
            dup2(fds[0], 0);
            close(fds[1]);
            std::vector<std::string> all = {VIR05SIM_PATH, "fleet"};
            all.insert(all.end(), args.begin(), args.end());
            all.push_back("-o");
            all.push_back(fleet);
            std::vector<char*> argv;
            for (auto& a : all)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            if (!freopen("/dev/null", "w", stdout)) _exit(127);
            execv(VIR05SIM_PATH, argv.data());
            _exit(127);
        }
        close(fds[0]);
        input = fds[1];
        for (int i = 0; i < 6000 && !std::filesystem::exists(fleet); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return std::filesystem::exists(fleet);
    }
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        if (write(input, text.data(), text.size()) < 0) std::perror("write");
    }
    ~SimFleetProcess() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (input >= 0) close(input);
    }
};
