// The byte trace of the link ("test.txt" in the working directory).
//
// Created empty with the five characters "start" and no line end, so that the first traced line
// continues it. Then one line per byte sent, one per byte received, and one after every receive
// step: the count in the buffer, the count wanted and the checksum of the buffer so far. Lines
// end with CR LF and are flushed at once, so the trace is complete even if the program dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vir05 {

// Where an engine's byte trace goes: the file "test.txt" (TraceLog), a file per controller,
// memory (MemoryTrace), or nowhere (no sink).
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    virtual void Sent(std::uint8_t b) = 0;
    virtual void Received(std::uint8_t b) = 0;
    virtual void ReceiveStep(std::size_t count, std::size_t wanted, std::uint8_t checksum) = 0;
};

// The most the trace holds: a line that noise keeps busy must not fill the disk. Past it the
// trace ends with the line kTraceCutText and writes nothing more.
inline constexpr std::size_t kTraceLimitBytes = 64u << 20;  // 64 MiB
inline constexpr const char* kTraceCutText = "трасса обрезана: достигнут предел размера";

class TraceLog : public TraceSink {
  public:
    // Opens (and empties) `path`; an empty path gives a trace that writes nothing. A link at
    // the name is replaced, not followed; a FIFO, device or directory of that name is left
    // alone and gives a trace that writes nothing.
    explicit TraceLog(const std::string& path, std::size_t limitBytes = kTraceLimitBytes);
    ~TraceLog() override;
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    bool Enabled() const { return file_ != nullptr; }

    // " out        85  55  U"
    void Sent(std::uint8_t b) override;
    // " i   13  0D  "
    void Received(std::uint8_t b) override;
    // "1962 1962 CSUM=00": count, wanted, one's complement of the sum of bytes 0..count-1.
    void ReceiveStep(std::size_t count, std::size_t wanted, std::uint8_t checksum) override;

    // The texts of the lines, without the line end.
    static std::string SentLine(std::uint8_t b);
    static std::string ReceivedLine(std::uint8_t b);
    static std::string ReceiveStepLine(std::size_t count, std::size_t wanted,
                                       std::uint8_t checksum);

  private:
    void WriteLine(const std::string& text);
    std::FILE* file_ = nullptr;
    std::size_t limit_;
    std::size_t written_ = 0;
    bool cut_ = false;
};

// The trace's lines kept in memory, as the file would hold them (without "start").
class MemoryTrace : public TraceSink {
  public:
    std::vector<std::string> lines;
    void Sent(std::uint8_t b) override { lines.push_back(TraceLog::SentLine(b)); }
    void Received(std::uint8_t b) override { lines.push_back(TraceLog::ReceivedLine(b)); }
    void ReceiveStep(std::size_t count, std::size_t wanted, std::uint8_t checksum) override {
        lines.push_back(TraceLog::ReceiveStepLine(count, wanted, checksum));
    }
};

}  // namespace vir05
