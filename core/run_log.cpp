#include "core/run_log.h"

#include "model/safe_file.h"

namespace vir05 {

bool RunLog::Open(const std::string& path) {
    Close();
    // Never through a planted link, never into a FIFO or device of that name.
    std::string error;
    file_ = CreateForWriting(path, error);
    return file_ != nullptr;
}

void RunLog::WriteLine(std::string_view line) {
    if (!file_) return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fwrite("\r\n", 1, 2, file_);
    std::fflush(file_);
}

void RunLog::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace vir05
