// Faults the simulated controller and its lines can show on request.
//
// A reply fault damages or withholds replies; the refused connection applies to TCP connections;
// the modem faults apply at the moments of the modem dialogue. Which replies (or connections, or
// dialogue steps) are hit is chosen by a rule: every Nth one, or at random with a seed, and
// optionally only for the next K hits. Rules are set and replaced at run time from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vir05::sim {

enum class FaultKind {
    None,
    BadChecksum,     // the reply's checksum byte is wrong
    BadFirstByte,    // the reply does not start with 170
    Truncated,       // only the first half of the reply is sent
    Stall,           // the reply stops in the middle for `stallMs`, then goes on
    Silence,         // no reply at all
    Refuse,          // TCP: the connection is refused
    ModemNoReset,    // the modem does not answer the reset command
    ModemBusy,       // the dial is answered "BUSY"
    ModemNoDial,     // the dial is not answered
    ModemNoCarrier,  // "NO CARRIER" in the middle of an archive block reply
    Flood,           // instead of the reply, bytes without end: a babbling line
};

const char* FaultKindName(FaultKind kind);
bool IsModemFault(FaultKind kind);

struct FaultRule {
    FaultKind kind = FaultKind::None;
    int every = 1;             // hit every Nth occasion (1 = all); ignored when probability > 0
    double probability = 0.0;  // > 0: hit at random with this probability
    std::uint32_t seed = 1;    // of the random choice
    int stallMs = 3000;        // length of the pause of a Stall
    int limit = -1;            // hit at most this many more times, then the rule ends; -1 = no end
};

// Parses "KIND[:every=N][:random=P][:seed=S][:next=K][:ms=T]", KIND one of checksum, header,
// truncate, stall, silence, refuse, modem-noreset, modem-busy, modem-nodial, modem-nocarrier,
// flood.
// Returns nullopt and sets `error` on a malformed text.
std::optional<FaultRule> ParseFaultRule(const std::string& text, std::string& error);

// What to put on the line for one reply.
struct Delivery {
    std::vector<std::uint8_t> bytes;
    std::size_t pauseAt = 0;  // with pauseMs > 0: pause after this many bytes
    int pauseMs = 0;
    // Instead of `bytes`, the byte values 0, 1, ... 255 over and over, until the TCP connection
    // closes or, on a pseudo-terminal, the tool sends again.
    bool flood = false;
};

class FaultInjector {
  public:
    // Sets the rule of its group (modem faults form one group, the others another), replacing
    // the previous rule of that group and restarting its counting.
    void Set(const FaultRule& rule);
    // Applies `kind` to the next `k` occasions only.
    void ApplyToNext(FaultKind kind, int k, int stallMs = 3000);
    void Clear();

    // Decides the fault of one reply and returns what to send.
    Delivery Plan(std::vector<std::uint8_t> reply);
    // True when this TCP connection is to be refused (counts one occasion of a Refuse rule).
    bool RefuseConnection();
    // True while a Refuse rule hits every connection without end: the listener is then closed,
    // so that connecting fails outright.
    bool RefusingAll() const;
    // True when the modem step of `kind` is to fail (counts one occasion of the modem rule).
    bool ModemFault(FaultKind kind);

  private:
    struct Slot {
        FaultRule rule;
        std::uint64_t occasions = 0;
        std::uint64_t rng = 0;
    };
    static bool Hit(Slot& slot);
    mutable std::mutex mutex_;
    Slot main_;
    Slot modem_;
};

}  // namespace vir05::sim
