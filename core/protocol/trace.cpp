#include "core/protocol/trace.h"

#include <string>

#include "model/safe_file.h"

namespace vir05 {

namespace {
const char kHex[] = "0123456789ABCDEF";

std::string Hex2(std::uint8_t b) {
    return std::string{kHex[b >> 4], kHex[b & 0x0F]};
}

// "<decimal>  <hex>  <character when above 32>"
std::string ByteFields(std::uint8_t b) {
    std::string s = std::to_string(b) + "  " + Hex2(b) + "  ";
    if (b > 32) s += static_cast<char>(b);
    return s;
}
}  // namespace

TraceLog::TraceLog(const std::string& path, std::size_t limitBytes) : limit_(limitBytes) {
    if (path.empty()) return;
    std::string error;
    file_ = CreateForWriting(path, error);
    if (!file_) return;
    std::fputs("start", file_);
    std::fflush(file_);
    written_ = 5;
}

TraceLog::~TraceLog() {
    if (file_) std::fclose(file_);
}

std::string TraceLog::SentLine(std::uint8_t b) {
    return " out        " + ByteFields(b);
}

std::string TraceLog::ReceivedLine(std::uint8_t b) {
    return " i   " + ByteFields(b);
}

std::string TraceLog::ReceiveStepLine(std::size_t count, std::size_t wanted,
                                      std::uint8_t checksum) {
    return std::to_string(count) + " " + std::to_string(wanted) + " CSUM=" + Hex2(checksum);
}

void TraceLog::Sent(std::uint8_t b) {
    if (file_) WriteLine(SentLine(b));
}

void TraceLog::Received(std::uint8_t b) {
    if (file_) WriteLine(ReceivedLine(b));
}

void TraceLog::ReceiveStep(std::size_t count, std::size_t wanted, std::uint8_t checksum) {
    if (file_) WriteLine(ReceiveStepLine(count, wanted, checksum));
}

void TraceLog::WriteLine(const std::string& text) {
    if (cut_) return;
    const std::size_t cutLine = std::char_traits<char>::length(kTraceCutText) + 2;
    if (written_ + text.size() + 2 + cutLine > limit_) {
        // Room is kept for this line, so the file ends within its limit.
        cut_ = true;
        std::fputs(kTraceCutText, file_);
        std::fputs("\r\n", file_);
        std::fflush(file_);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fputs("\r\n", file_);
    std::fflush(file_);
    written_ += text.size() + 2;
}

}  // namespace vir05
