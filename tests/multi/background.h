// Programs that run beside a test: started with their output in a file, ended by their process
// id (a stop, or kill -9 where the test wants a poller to die).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vir05::poll::test {

class Background {
  public:
    Background(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd, const std::string& log)
        : log_(log) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0) _exit(127);
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int null = open("/dev/null", O_RDONLY);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            if (null >= 0) dup2(null, 0);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Background() { Stop(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t Pid() const { return pid_; }

    // SIGTERM (a clean stop), then SIGKILL if it is still there after a minute. The exit code,
    // or -1 when it did not exit by itself.
    int Stop() {
        if (pid_ <= 0) return code_;
        kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return code_;
    }
    // Waits for it to end by itself, at most `limit` (then kills it): its exit code, or -1.
    int Wait(std::chrono::seconds limit) {
        if (pid_ <= 0) return code_;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                pid_ = -1;
                return code_ = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        pid_ = -1;
        return code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // kill -9: no clean-up of any kind.
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string Log() const {
        std::ifstream in(log_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    pid_t pid_ = -1;
    int code_ = -1;
    std::string log_;
};

// Waits until `ready()` holds, looking every 200 ms, at most `limit`.
template <typename F>
bool Eventually(F ready, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

}  // namespace vir05::poll::test
