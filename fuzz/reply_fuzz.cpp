// The receive path of the link: any reply stream answering a read of current values, a
// configuration write or an archive read (plain or compressed blocks), over the TCP line, the
// serial line or the serial line through a modem.
//
// Input:
//   byte 0   bits 0-1: 0 read of current values, 1 configuration write, 2 and 3 archive read
//            bit 2: serial line (else TCP); bit 3: with bit 2, dial through a modem first
//            bit 4: the configuration write sends every byte
//            bits 5-7: v, non-zero: the user stops the command at the (v * v * 16)-th empty poll
//   byte 1-2 little-endian mask m. Configuration write: window w differs from the shadow when bit
//            (w mod 16) of m is set. Archive read: the archive slot count (0: the default).
//   then     chunks, each answering the next request the link sends (a frame, or a modem's
//            reset and dial command):
//            flags: bit 0 seal the reply with a valid checksum (over the decoded data of a
//                   compressed block), bit 1 the chunk continues the previous chunk's reply,
//                   bit 2 repeat the payload to a length given by two more bytes,
//                   bits 3-7 empty polls after the chunk (31: 160); 30: none, the line
//                   never falls silent again but repeats the chunk's bytes without end (a
//                   babbling controller, line noise)
//            length (2 bytes, little-endian), [repeat length (2 bytes)], payload
//
// Whatever arrives: nothing outside the receive buffers is written (the destination is a heap
// block of exactly the receive area's size, for ASan to watch), the memory areas stay exactly as
// they were (the link only reads them; a completed read reaches them through the command cycle),
// a failed read leaves the receive area as it was, a successful one holds a valid image reply,
// every configuration write frame carries the image's bytes of a changed window, and the engine
// always ends: on a silent line within its waits, on an endless one within the bytes its
// attempts and drains take.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/frame.h"
#include "core/protocol/link_engine.h"
#include "core/protocol/memory_line.h"
#include "core/protocol/unpack.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "reply_fuzz: invariant broken: %s\n", what);
    std::abort();
}
void Check(bool ok, const char* what) {
    if (!ok) Fault(what);
}

// More empty polls of a silent line than any command with all its retries and redials takes:
// the engine is looping.
constexpr long kSilentPollLimit = 400000;
// More bytes of a line that never falls silent than any command takes with all its attempts,
// each with its drains (an archive read: five image attempts, then four blocks of five attempts,
// each with a drain before it and after it, at most 131072 bytes a drain): the engine is
// looping.
constexpr std::size_t kEndlessByteLimit = 16u << 20;

struct Chunk {
    Bytes bytes;
    int gapAfter = 0;
    bool seal = false;
    bool endless = false;  // the line repeats these bytes for ever after the reply
};
using Reply = std::vector<Chunk>;  // the chunks answering one request

// The controller (and modem) behind the memory line: each request frame, and with a modem each
// reset and dial, takes the next reply of the input into the line's queue.
class Script {
  public:
    std::deque<Reply> replies;
    std::vector<Bytes> requests;  // every request frame written
    bool modem = false;
    std::atomic<std::int32_t>* command = nullptr;
    long cancelAtPoll = 0;  // 0: never

    void Attach(vir05::ByteQueue& q) {
        q.onWrite = [this, &q](const std::uint8_t* d, std::size_t n) { Written(q, d, n); };
        q.onEmptyPoll = [this, &q](int polls) {
            if (q.silentPolls > kSilentPollLimit) Fault("the engine does not end on a silent line");
            if (polls == cancelAtPoll && command) *command = 0;
        };
        q.floodByte = [this](std::uint64_t n) {
            if (n + 1 > kEndlessByteLimit)
                Fault("the engine does not end on a line that never falls silent");
            return endless_[n % endless_.size()];
        };
        q.floodGuard = 0;  // no flood until a reply ends in bytes repeated for ever
    }

    void Written(vir05::ByteQueue& q, const std::uint8_t* d, std::size_t n) {
        const bool frame = n > 0 && d[0] == vir05::kFrameStart;
        const bool modemCommand =
            modem && n >= 3 && d[0] == 'A' && d[1] == 'T' && (d[2] == 'Z' || d[2] == 'D');
        if (frame) requests.emplace_back(d, d + n);
        if (!frame && !modemCommand) return;
        if (replies.empty()) return;
        Reply reply = std::move(replies.front());
        replies.pop_front();
        if (frame) Seal(reply, Bytes(d, d + n));
        for (const Chunk& c : reply) {
            q.Push(c.bytes);
            q.PushSilence(c.gapAfter);
            if (c.endless && !c.bytes.empty() && endless_.empty()) {
                endless_ = c.bytes;
                q.floodGuard = std::numeric_limits<std::uint64_t>::max();
            }
        }
    }

  private:
    Bytes endless_;  // what the line repeats once its replies are used up; empty: silence

    // Gives the reply the checksum the engine checks: over the plain bytes, or over the header
    // and the decoded data of a compressed archive block.
    static void Seal(Reply& reply, const Bytes& request) {
        const bool wanted =
            std::any_of(reply.begin(), reply.end(), [](const Chunk& c) { return c.seal; });
        std::vector<std::uint8_t*> at;  // every byte of the reply, across its chunks
        for (Chunk& c : reply)
            for (auto& b : c.bytes)
                at.push_back(&b);
        if (!wanted || at.empty()) return;
        const bool compressed = request.size() == vir05::kArchiveFrameSize &&
                                request[3] == vir05::kModeCompressed &&
                                request[4] == vir05::kOpArchive;
        if (compressed && at.size() > vir05::kReplyHeaderSize) {
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < vir05::kReplyHeaderSize; ++i)
                sum = static_cast<std::uint8_t>(sum + *at[i]);
            std::vector<std::uint8_t> out(vir05::kArchiveBlockSize + vir05::kUnpackMaxOutput + 1);
            vir05::UnpackState state;
            std::size_t pos = 0;
            for (std::size_t i = vir05::kReplyHeaderSize; i < at.size(); ++i) {
                vir05::UnpackByte(state, *at[i], pos, out.data());
                if (pos >= vir05::kArchiveBlockSize) {
                    // A block decoded to its exact size takes the next byte as its checksum.
                    if (pos != vir05::kArchiveBlockSize || i + 1 >= at.size()) return;
                    for (std::size_t k = 0; k < pos; ++k)
                        sum = static_cast<std::uint8_t>(sum + out[k]);
                    *at[i + 1] = static_cast<std::uint8_t>(~sum);
                    return;
                }
            }
            return;
        }
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 1 < at.size(); ++i)
            sum = static_cast<std::uint8_t>(sum + *at[i]);
        *at.back() = static_cast<std::uint8_t>(~sum);
    }
};

// Splits the bytes after the three header bytes into the replies to successive requests.
std::deque<Reply> ParseReplies(const std::uint8_t* data, std::size_t size) {
    std::deque<Reply> replies;
    std::size_t i = 0;
    auto take16 = [&]() -> std::size_t {
        std::size_t v = 0;
        if (i < size) v = data[i++];
        if (i < size) v |= static_cast<std::size_t>(data[i++]) << 8;
        return v;
    };
    while (i < size) {
        const std::uint8_t flags = data[i++];
        const std::size_t length = take16();
        std::size_t repeat = 0;
        if (flags & 4) repeat = take16();
        const std::size_t from = std::min(i, size);
        const std::size_t n = std::min(length, size - from);
        i = from + n;
        Chunk c;
        c.bytes.assign(data + from, data + from + n);
        if ((flags & 4) && repeat > n) {
            c.bytes.resize(repeat);
            if (n > 0)
                for (std::size_t k = n; k < repeat; ++k)
                    c.bytes[k] = c.bytes[k % n];
        }
        const int gap = flags >> 3;
        c.gapAfter = gap == 31 ? 160 : gap == 30 ? 0 : gap;
        c.endless = gap == 30;
        c.seal = (flags & 1) != 0;
        if ((flags & 2) && !replies.empty())
            replies.back().push_back(std::move(c));
        else
            replies.push_back(Reply{std::move(c)});
    }
    return replies;
}

struct Fixture {
    std::unique_ptr<vir05::MemoryAreas> areas = std::make_unique<vir05::MemoryAreas>();
    std::unique_ptr<vir05::MemoryAreas> before = std::make_unique<vir05::MemoryAreas>();
    // The destination of every read, exactly as large as the receive area, so that ASan sees a
    // write past it.
    std::unique_ptr<std::uint8_t[]> destination{new std::uint8_t[vir05::kReceiveAreaSize]};
    std::unique_ptr<std::uint8_t[]> destinationBefore{new std::uint8_t[vir05::kReceiveAreaSize]};
};

bool ImageReplyValid(const std::uint8_t* d) {
    return d[0] == vir05::kReplyStart && vir05::FrameValid(d, vir05::kImageReplyLength);
}

bool AllZero(const std::uint8_t* d, std::size_t from, std::size_t to) {
    return std::all_of(d + from, d + to, [](std::uint8_t b) { return b == 0; });
}

// The write frames of a configuration write: each one well formed, inside one window of the
// configuration area, carrying the image's bytes; with changed bytes only from the first to the
// last changed byte of its window, one frame per changed window.
void CheckConfigFrames(const std::vector<Bytes>& requests, const std::uint8_t* image,
                       const std::uint8_t* shadow, bool rewriteAll, bool cancelled) {
    using namespace vir05;
    int windowsChanged = 0;
    for (int w = 0; w < addr::ConfigLength; w += kConfigWindow) {
        const int base = addr::ConfigStart + w;
        const int size = std::min(kConfigWindow, addr::ConfigLength - w);
        if (rewriteAll || std::memcmp(image + base, shadow + base, size) != 0) ++windowsChanged;
    }
    int frames = 0;
    int lastWindow = -1;
    for (const Bytes& f : requests) {
        Check(f.size() >= kWriteFrameOverhead + 1 && f[4] == kOpWrite,
              "a configuration write sends write frames only");
        Check(FrameValid(f.data(), f.size()), "a write frame's checksum is valid");
        Check(f[3] == kModePlain && f[5] == f.size() - 7, "a write frame's head");
        const int a = f[6] << 8 | f[7];
        const int n = static_cast<int>(f.size()) - static_cast<int>(kWriteFrameOverhead);
        Check(a >= addr::ConfigStart && a + n <= static_cast<int>(kImageSize),
              "a write frame lies inside the configuration area");
        const int window = (a - addr::ConfigStart) / kConfigWindow;
        Check((a + n - 1 - addr::ConfigStart) / kConfigWindow == window,
              "a write frame lies inside one window");
        Check(window > lastWindow, "windows go out once each, in order");
        lastWindow = window;
        Check(std::memcmp(f.data() + 8, image + a, n) == 0, "a write frame carries image bytes");
        if (!rewriteAll)
            Check(image[a] != shadow[a] && image[a + n - 1] != shadow[a + n - 1],
                  "a write frame starts and ends at a changed byte");
        ++frames;
    }
    if (!cancelled) Check(frames == windowsChanged, "every changed window is written");
}

// The read requests of a read command: the image read request for network address 1, and
// archive requests for one block each that lies inside the ring.
void CheckReadFrames(const std::vector<Bytes>& requests) {
    using namespace vir05;
    std::uint8_t image[kReadFrameSize];
    BuildReadImageFrame(image, 1);
    for (const Bytes& f : requests) {
        if (f.size() == kReadFrameSize && f[4] == kOpRead) {
            Check(std::equal(f.begin(), f.end(), image), "the image read request is canonical");
            continue;
        }
        Check(f.size() == kArchiveFrameSize && f[4] == kOpArchive && f[5] == 8,
              "a read command sends image and archive requests only");
        Check(FrameValid(f.data(), f.size()) && f[1] == 1 && f[2] == 0xFE,
              "an archive request is sealed and addressed");
        Check(f[3] == kModePlain || f[3] == kModeCompressed, "an archive request's mode");
        const std::uint32_t start =
            static_cast<std::uint32_t>(f[6]) << 24 | f[7] << 16 | f[8] << 8 | f[9];
        const std::uint32_t count =
            static_cast<std::uint32_t>(f[10]) << 24 | f[11] << 16 | f[12] << 8 | f[13];
        Check(count == kArchiveBlockSize && start <= kArchiveLastBlockStart,
              "an archive request asks for one block inside the ring");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vir05;
    if (size < 3) return 0;
    static Fixture fx;
    const int kind = data[0] & 3;
    const bool serial = (data[0] & 4) != 0;
    const bool modem = serial && (data[0] & 8) != 0;
    const bool rewriteAll = (data[0] & 16) != 0;
    const int cancelStep = data[0] >> 5;
    const unsigned mask = data[1] | data[2] << 8;
    const int cmd = kind == 0   ? command::ReadCurrent
                    : kind == 1 ? command::WriteConfig
                                : command::ReadArchive;

    // Areas with contents: the configuration write finds changes in the windows of the mask.
    MemoryAreas& areas = *fx.areas;
    for (std::size_t i = 0; i < areas.block.size(); ++i)
        areas.block[i] = static_cast<std::uint8_t>(i * 31 + 7);
    std::memcpy(areas.ConfigShadow(), areas.DeviceImage(), kImageSize);
    for (int w = 0; w * kConfigWindow < addr::ConfigLength; ++w)
        if ((mask >> (w % 16)) & 1) {
            const int at = addr::ConfigStart + w * kConfigWindow + (w * 5) % kConfigWindow;
            if (at < static_cast<int>(kImageSize)) areas.ConfigShadow()[at] ^= 0x5A;
        }
    std::memcpy(fx.before->block.data(), areas.block.data(), areas.block.size());
    std::memset(fx.destination.get(), 0xA5, kReceiveAreaSize);
    std::memcpy(fx.destinationBefore.get(), fx.destination.get(), kReceiveAreaSize);

    Script line;
    line.modem = modem;
    line.replies = ParseReplies(data + 3, size - 3);
    vir05::MemoryLine memory(serial ? vir05::LineKind::Serial : vir05::LineKind::Tcp);
    line.Attach(memory.line);
    auto engine = std::make_unique<LinkEngine>(memory, LinkImage::Of(areas), LinkTiming::Default(),
                                               nullptr, [](int) {});
    LinkRequest& req = engine->Request();
    std::atomic<std::uint8_t> progress{0};
    if (serial)
        req.FillSerial(cmd, "COM1", 1, modem ? "5551234" : "", 9600, fx.destination.get(),
                       &progress);
    else
        req.FillTcp(cmd, "127.0.0.1", 10001, 1, fx.destination.get(), &progress);
    req.RewriteAll = rewriteAll ? 1 : 0;
    if (cmd == command::ReadArchive && mask != 0) req.ArchiveSlots = static_cast<int>(mask);
    line.command = &req.Command;
    line.cancelAtPoll = cancelStep ? 16L * cancelStep * cancelStep : 0;

    engine->RunPass();
    // VIR05_FUZZ_VERBOSE=1 shows how each input ended, to check what seeds reach.
    static const bool verbose = std::getenv("VIR05_FUZZ_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "command %d: status %d, command %d, errors %d, %zu requests, %s\n",
                     cmd, req.Status.load(), req.Command.load(), req.ErrorCount.load(),
                     line.requests.size(), req.ErrorText.c_str());

    // The members right after the receive buffer are intact.
    Check(req.Destination == fx.destination.get() && req.Progress == &progress,
          "the receive buffer's neighbours are intact");
    Check(!req.Unpack, "the decoder is off after the command");
    Check(progress.load() <= 100, "progress stays within 0..100");
    Check(std::memcmp(areas.block.data(), fx.before->block.data(), areas.block.size()) == 0,
          "the device image, configuration shadow and archive image stay as they were");

    const int status = req.Status.load();
    const bool cancelled = status == link_status::Cancelled;
    const std::uint8_t* dest = fx.destination.get();
    const bool destUntouched = std::memcmp(dest, fx.destinationBefore.get(), kReceiveAreaSize) == 0;
    switch (cmd) {
        case command::ReadCurrent:
            CheckReadFrames(line.requests);
            Check(status == 0 || status == link_status::NoReply ||
                      status == link_status::Checksum || status == link_status::BadImageHeader ||
                      cancelled || (modem && status == link_status::NotOpened),
                  "a read of current values ends with its own status codes");
            if (status == 0) {
                Check(ImageReplyValid(dest), "a successful read holds a valid image reply");
                Check(AllZero(dest, kImageReplyLength, kReceiveClearedSize),
                      "the rest of the cleared part holds zeros");
                Check(std::memcmp(dest + kReceiveClearedSize,
                                  fx.destinationBefore.get() + kReceiveClearedSize,
                                  kReceiveAreaSize - kReceiveClearedSize) == 0,
                      "nothing past the cleared part is written");
            } else {
                Check(destUntouched, "a failed read leaves the receive area as it was");
            }
            break;
        case command::ReadArchive:
            CheckReadFrames(line.requests);
            Check(status == 0 || status == link_status::NoReply ||
                      status == link_status::Checksum || status == link_status::BadImageHeader ||
                      status == link_status::BadArchiveHeader || cancelled ||
                      (modem && status == link_status::NotOpened),
                  "an archive read ends with its own status codes");
            if (status == 0 || !destUntouched) {
                Check(ImageReplyValid(dest), "a written receive area starts with the image reply");
                Check(AllZero(dest, kImageReplyLength, kReceiveArchiveOffset),
                      "between the image and the archive ring lie zeros");
                Check(std::memcmp(dest + kReceiveClearedSize,
                                  fx.destinationBefore.get() + kReceiveClearedSize,
                                  kReceiveAreaSize - kReceiveClearedSize) == 0,
                      "nothing past the archive ring is written");
            }
            if (status == 0) Check(req.Command.load() == command::ReadArchive, "completes as 3");
            break;
        case command::WriteConfig:
            Check(status == 0 || status == link_status::NotAcknowledged || cancelled ||
                      (modem && status == link_status::NotOpened),
                  "a configuration write ends with its own status codes");
            Check(destUntouched, "a configuration write leaves the receive area alone");
            if (status != link_status::NotOpened)
                CheckConfigFrames(line.requests, areas.DeviceImage(), areas.ConfigShadow(),
                                  rewriteAll, cancelled);
            if (status == 0) Check(progress.load() == 100, "a finished write shows 100");
            break;
    }
    return 0;
}
