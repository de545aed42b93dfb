// The modem dial over a serial line: reset, dial, wait for "CONNECT"; four attempts.
//
// The engine hands the dial its steps (a traced send, a receive into the request's buffer, a
// pause) so that the dial's bytes and waits are the engine's own: traced, cancellable, timed
// in its ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/protocol/byte_line.h"
#include "core/protocol/link_request.h"
#include "core/protocol/timing.h"

namespace vir05 {

inline constexpr int kModemAttempts = 4;

struct DialSteps {
    std::function<void(const std::string& text)> send;
    // Receives into the request's buffer from its start; returns the count received.
    std::function<std::size_t(std::size_t wanted, std::uint32_t firstWaitTicks)> receive;
    std::function<void(int ms)> pause;
};

// Raises RTS and DTR and dials the request's Phone. True once a dial is answered with
// "CONNECT" (progress up by 5, the reply wait that of a connected line); false after the last
// attempt, with the reason in the request's ErrorText.
bool DialModem(ByteLine& line, LinkRequest& req, const LinkTiming& timing, const DialSteps& steps);

}  // namespace vir05
