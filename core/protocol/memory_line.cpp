#include "core/protocol/memory_line.h"

#include <algorithm>

namespace vir05 {

std::uint8_t ByteQueue::NextFloodByte() {
    floodGapLeft = floodGap;
    return floodByte(flooded++);
}

void ByteQueue::Written(const std::uint8_t* data, std::size_t n) {
    out.insert(out.end(), data, data + n);
    if (onWrite) onWrite(data, n);
}

ByteQueue::Item ByteQueue::Poll() {
    Item v;
    if (!in.empty()) {
        v = in.front();
        in.pop_front();
    } else if (Flooding()) {
        if (floodGapLeft > 0)
            --floodGapLeft;
        else
            v = NextFloodByte();
    } else {
        ++silentPolls;
    }
    if (!v) EmptyPoll();
    return v;
}

std::size_t ByteQueue::Take(std::uint8_t* buffer, std::size_t count) {
    if (count == 0) return 0;
    std::size_t n = 0;
    while (n < count && !in.empty() && in.front()) {
        buffer[n++] = *in.front();
        in.pop_front();
    }
    while (n < count && in.empty() && Flooding() && floodGapLeft == 0)
        buffer[n++] = NextFloodByte();
    if (n > 0) return n;
    const Item v = Poll();  // an empty poll, or the gap entry taken
    if (!v) return 0;
    buffer[0] = *v;
    return 1;
}

void ByteQueue::EmptyPoll() {
    ++emptyPolls;
    if (onEmptyPoll) onEmptyPoll(emptyPolls);
}

LineError MemoryLine::Open(const LineTarget& target) {
    target_ = target;
    if (kind_ == LineKind::Serial) {
        if (target.pause) target.pause(target.pauseBeforeOpenMs);
        events.push_back("open " + target.portName + " " + std::to_string(target.baudRate));
    } else {
        connects.push_back(target.host + ":" + std::to_string(target.tcpPort));
    }
    open = openResult == LineError::None;
    return openResult;
}

int MemoryLine::Send(const std::uint8_t* data, std::size_t count) {
    sendCalls.emplace_back(data, data + count);
    int take = static_cast<int>(count);
    if (!sendLimits.empty()) {
        take = sendLimits.front();
        sendLimits.erase(sendLimits.begin());
        if (take < 0) return -1;
        take = std::min(take, static_cast<int>(count));
    }
    line.Written(data, static_cast<std::size_t>(take));
    return take;
}

int MemoryLine::Write(const std::uint8_t* data, std::size_t count) {
    if (kind_ == LineKind::Tcp)
        return SendPaced([this](const std::uint8_t* d, std::size_t n) { return Send(d, n); },
                         target_, data, count);
    return Send(data, count);
}

int MemoryLine::Read(std::uint8_t* buffer, std::size_t count) {
    return static_cast<int>(line.Take(buffer, count));
}

void MemoryLine::Purge() {
    events.push_back("purge");
}

void MemoryLine::SetDtr(bool on) {
    events.push_back(on ? "dtr 1" : "dtr 0");
}

void MemoryLine::SetRts(bool on) {
    events.push_back(on ? "rts 1" : "rts 0");
}

void MemoryLine::Close() {
    if (open) {
        events.push_back("close");
        ++closes;
    }
    open = false;
}

}  // namespace vir05
