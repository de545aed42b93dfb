#include "core/protocol/modem_dial.h"

#include <algorithm>

#include "core/protocol/commands.h"

namespace vir05 {

bool DialModem(ByteLine& line, LinkRequest& req, const LinkTiming& timing, const DialSteps& steps) {
    req.ReplyTicks = static_cast<std::uint32_t>(timing.replyTicksModemReset);
    line.SetRts(true);
    line.SetDtr(true);
    const std::uint8_t* buf = req.RxBuffer.data();
    for (int attempt = 1;; ++attempt) {
        bool failed = false;
        steps.pause(timing.beforeModemResetMs);
        steps.send("ATZH0E0&D2\r");
        std::size_t count =
            steps.receive(1000, static_cast<std::uint32_t>(timing.modemResetAnswerTicks));
        if (count == 0) {
            req.ErrorText = LinkErrorText(LinkError::ModemSilent);
            failed = true;
        }
        steps.send("ATD" + req.Phone + "\r");
        req.ReplyTicks = static_cast<std::uint32_t>(timing.replyTicksDial);
        count = steps.receive(100, static_cast<std::uint32_t>(timing.modemDialAnswerTicks));
        const std::string answer(reinterpret_cast<const char*>(buf), count);
        if (count > 0 && answer.find("CONNECT") != std::string::npos) {
            req.Progress->store(
                static_cast<std::uint8_t>(std::min(req.Progress->load() + 5u, 100u)));
        } else {
            req.ErrorText = count > 0 ? LinkErrorText(LinkError::ModemAnswered, answer)
                                      : std::string(LinkErrorText(LinkError::DialFailed));
            failed = true;
        }
        if (!failed) break;
        if (attempt == kModemAttempts) return false;
    }
    req.ReplyTicks = static_cast<std::uint32_t>(timing.replyTicksConnected);
    return true;
}

}  // namespace vir05
