// The run log: a text stream opened at start-up on the output name followed by ".log", kept
// open until the first text output closes it. Lines end with CR LF and are flushed at once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vir05 {

class RunLog {
  public:
    RunLog() = default;
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;
    ~RunLog() { Close(); }

    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    void WriteLine(std::string_view line);  // does nothing when closed
    void Close();

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace vir05
