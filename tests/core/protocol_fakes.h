// A scripted controller and modem on the in-memory lines, for the link engine tests.
//
// The controller answers whole frames written to the line by putting its reply into the line's
// queue; a hook may spoil a reply before it is queued.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/frame.h"
#include "core/protocol/link_engine.h"
#include "core/protocol/memory_line.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"

namespace vir05::test {

using Bytes = std::vector<std::uint8_t>;
// What a line delivers: a byte, or nullopt for one empty poll.
using RxItem = ByteQueue::Item;
using RxStream = std::vector<RxItem>;

inline Bytes FromText(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline RxStream Stream(const Bytes& b) {
    return RxStream(b.begin(), b.end());
}
inline void AppendSilence(RxStream& s, int polls) {
    s.insert(s.end(), static_cast<std::size_t>(polls), std::nullopt);
}

using vir05::ByteQueue;

// Compressed form of an archive block as the engine's decoder reads it: the first 32 bytes
// plain, then per byte a 0 bit (repeat of the byte 32 back) or a 1 bit and 8 literal bits,
// lowest bit first. A trailing 1 bit ends the last byte without further output.
inline Bytes CompressForTest(const std::uint8_t* data, std::size_t n) {
    Bytes out(data, data + std::min<std::size_t>(n, 32));
    std::uint32_t acc = 0;
    int bits = 0;
    auto put = [&](unsigned bit) {
        acc |= (bit & 1u) << bits;
        if (++bits == 8) {
            out.push_back(static_cast<std::uint8_t>(acc));
            acc = 0;
            bits = 0;
        }
    };
    for (std::size_t i = 32; i < n; ++i) {
        if (data[i] == data[i - 32]) {
            put(0);
        } else {
            put(1);
            for (int k = 0; k < 8; ++k)
                put(static_cast<unsigned>(data[i] >> k));
        }
    }
    if (bits != 0) {
        put(1);
        while (bits != 0)
            put(0);
    }
    return out;
}

// A controller behind a line: answers image reads, memory reads and writes and archive reads
// addressed to `netAddr`; ignores anything else (garbage, other addresses, bad checksums).
class FakeController {
  public:
    std::array<std::uint8_t, kImageSize> image{};
    std::vector<std::uint8_t> archive = std::vector<std::uint8_t>(kArchiveSize);
    std::uint8_t netAddr = 1;
    std::vector<Bytes> frames;  // every valid frame addressed here, in order
    // Spoils reply number `index` (0-based, counting every reply) before it is queued.
    std::function<void(RxStream& reply, int index, const Bytes& frame)> tamper;
    int replies = 0;

    void Attach(ByteQueue& q) {
        q.onWrite = [this, &q](const std::uint8_t* d, std::size_t n) { Feed(q, d, n); };
    }

    void Feed(ByteQueue& q, const std::uint8_t* d, std::size_t n) {
        pending_.insert(pending_.end(), d, d + n);
        for (;;) {
            auto start = std::find(pending_.begin(), pending_.end(), kFrameStart);
            pending_.erase(pending_.begin(), start);
            if (pending_.size() < 6) return;
            const std::size_t len = 6u + pending_[5] + 1u;
            if (pending_.size() < len) return;
            const Bytes frame(pending_.begin(), pending_.begin() + static_cast<long>(len));
            if (!FrameValid(frame.data(), len) || frame[1] != netAddr ||
                frame[2] != static_cast<std::uint8_t>(~netAddr)) {
                pending_.erase(pending_.begin());  // resynchronise on the next 0x55
                continue;
            }
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(len));
            frames.push_back(frame);
            Answer(q, frame);
        }
    }

    static std::uint32_t Be(const Bytes& f, std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | f[at + static_cast<std::size_t>(i)];
        return v;
    }

  private:
    void Answer(ByteQueue& q, const Bytes& f) {
        const std::uint8_t mode = f[3];
        const std::uint8_t op = f[4];
        Bytes header = {kReplyStart, f[1], f[2], mode, op, 0x00};
        Bytes plain;  // decoded data, covered by the checksum
        Bytes wire;   // data as sent
        if (op == kOpWrite) {
            const std::uint32_t a = Be(f, 6, 2);
            for (std::size_t i = 8; i + 1 < f.size(); ++i)
                if (a + (i - 8) < kImageSize) image[a + (i - 8)] = f[i];
        } else if (op == kOpRead) {
            const std::uint32_t a = Be(f, 6, 4);
            const std::uint32_t c = Be(f, 10, 2);
            for (std::uint32_t i = 0; i < c; ++i)
                plain.push_back(a + i < kImageSize ? image[a + i] : 0);
            wire = plain;
        } else if (op == kOpArchive) {
            const std::uint32_t s = Be(f, 6, 4);
            const std::uint32_t c = Be(f, 10, 4);
            for (std::uint32_t i = 0; i < c; ++i)
                plain.push_back(archive[(s + i) % kArchiveSize]);
            wire = mode == kModeCompressed ? CompressForTest(plain.data(), plain.size()) : plain;
        } else {
            return;
        }
        Bytes checked = header;
        checked.insert(checked.end(), plain.begin(), plain.end());
        const std::uint8_t sum = FrameChecksum(checked.data(), checked.size());
        Bytes reply = header;
        reply.insert(reply.end(), wire.begin(), wire.end());
        reply.push_back(sum);
        RxStream stream = Stream(reply);
        if (tamper) tamper(stream, replies, f);
        ++replies;
        q.Push(stream);
    }

    Bytes pending_;
};

// A Hayes modem in front of a controller: command mode until "CONNECT", then data mode.
class FakeModem {
  public:
    bool answerReset = true;
    std::string dialAnswer = "\r\nCONNECT 9600\r\n";  // empty: no answer to the dial
    std::deque<std::string> dialAnswers;              // answers to the first dials, then dialAnswer
    bool enterDataMode = true;          // false: stays in command mode after "CONNECT"
    std::vector<std::string> commands;  // every command line received
    bool dataMode = false;

    void Attach(ByteQueue& q, FakeController& controller) {
        q.onWrite = [this, &q, &controller](const std::uint8_t* d, std::size_t n) {
            if (dataMode && !(n == 3 && std::string(d, d + n) == "+++")) {
                controller.Feed(q, d, n);
                return;
            }
            if (dataMode) {  // "+++": back to command mode
                commands.push_back("+++");
                dataMode = false;
                return;
            }
            line_.append(d, d + n);
            std::size_t cr;
            while ((cr = line_.find('\r')) != std::string::npos) {
                const std::string cmd = line_.substr(0, cr);
                line_.erase(0, cr + 1);
                commands.push_back(cmd);
                Command(q, cmd);
            }
        };
    }

  private:
    void Command(ByteQueue& q, const std::string& cmd) {
        if (cmd.rfind("ATZ", 0) == 0) {
            if (answerReset) q.Push(FromText("\r\nOK\r\n"));
        } else if (cmd.rfind("ATD", 0) == 0) {
            std::string answer = dialAnswer;
            if (!dialAnswers.empty()) {
                answer = dialAnswers.front();
                dialAnswers.pop_front();
            }
            q.Push(FromText(answer));
            if (enterDataMode && answer.find("CONNECT") != std::string::npos) dataMode = true;
        } else if (cmd.rfind("ATH", 0) == 0) {
            q.Push(FromText("\r\nOK\r\n"));
        }
    }
    std::string line_;
};

// Waits shrunk for tests; every pause is recorded instead of slept, so the tests count ticks.
inline LinkTiming TestTiming() {
    LinkTiming t;
    t.tickMs = 1;
    t.beforeSerialOpenMs = 2;
    t.beforeModemResetMs = 3;
    t.hangupPauseMs = 4;
    t.beforeTcpSendMs = 5;
    t.noCarrierPauseMs = 6;
    t.modemResetAnswerTicks = 5;
    t.modemDialAnswerTicks = 7;
    return t;
}

// An engine over fake lines and a fake controller, with the memory areas of the program.
struct LinkRig {
    std::unique_ptr<MemoryAreas> areas = std::make_unique<MemoryAreas>();
    MemoryLine serial{LineKind::Serial};
    MemoryLine tcp{LineKind::Tcp};
    LineChoice line{serial, tcp};  // the one the request names, as the program's link has it
    FakeController controller;
    FakeModem modem;
    std::vector<int> sleeps;
    std::vector<std::string> captions;  // ErrorText at every caption step
    LocalTime now;
    std::unique_ptr<LinkEngine> engine;

    explicit LinkRig(LinkTiming timing = TestTiming(), TraceSink* trace = nullptr) {
        engine = std::make_unique<LinkEngine>(
            line, LinkImage::Of(*areas), timing, trace, [this](int ms) { sleeps.push_back(ms); },
            [this] { return now; });
        engine->SetShowLinkText([this] { captions.push_back(engine->Request().ErrorText); });
        controller.Attach(tcp.line);
        controller.Attach(serial.line);
    }

    LinkRequest& req() { return engine->Request(); }
    std::uint8_t* image() { return areas->DeviceImage(); }
    std::uint8_t* shadow() { return areas->ConfigShadow(); }

    void StartTcp(int cmd, int netAddr = 1) {
        req().FillTcp(cmd, "10.0.0.7", 4001, netAddr, areas->ReceiveArea.data(),
                      &areas->ProgressCell);
    }
    void StartSerial(int cmd, const std::string& phone = {}, int netAddr = 1) {
        req().FillSerial(cmd, "COM3", netAddr, phone, 19200, areas->ReceiveArea.data(),
                         &areas->ProgressCell);
    }
    void UseModem() { modem.Attach(serial.line, controller); }
    void Run(int cmd) {
        StartTcp(cmd);
        engine->RunPass();
    }
    // Cancels the command (as the user interface would) at the n-th empty poll of the line.
    void CancelAtEmptyPoll(ByteQueue& q, int n) {
        q.onEmptyPoll = [this, n](int polls) {
            if (polls == n) req().Command = 0;
        };
    }
    int Sleeps(int ms) const {
        return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), ms));
    }
    // The frames the controller received with the given operation.
    std::vector<Bytes> FramesWith(std::uint8_t op) const {
        std::vector<Bytes> r;
        for (const auto& f : controller.frames)
            if (f[4] == op) r.push_back(f);
        return r;
    }
};

inline std::string Hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

}  // namespace vir05::test
