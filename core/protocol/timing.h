// Every wait and tick length of the link, in one table.
//
// The defaults are the protocol's own values; production code never changes them. Tests shrink
// them so that a suite of retries and time-outs runs in seconds.
#pragma once

namespace vir05 {

struct LinkTiming {
    int tickMs = 120;                // pause after an empty poll of the line
    int beforeSerialOpenMs = 10;     // before opening the COM port
    int beforeModemResetMs = 500;    // before each modem reset command
    int hangupPauseMs = 1500;        // before "+++" and again before "ATH\r"
    int beforeTcpSendMs = 100;       // before every TCP send and before a repeated one
    int noCarrierPauseMs = 3000;     // after a carrier loss seen in the image read
    int modemResetAnswerTicks = 5;   // first-byte wait for the reset answer
    int modemDialAnswerTicks = 700;  // first-byte wait for the dial answer
    int replyTicksCreated = 20;      // ReplyTicks after creation and after a serial open
    int replyTicksModemReset = 5;    // ReplyTicks during the modem reset exchange
    int replyTicksDial = 10;         // ReplyTicks during the dial
    int replyTicksConnected = 150;   // ReplyTicks after "CONNECT"
    // The lines themselves: a one-byte serial read returns after at most this long (read
    // interval 50 ms, total 50 ms + 50 ms a byte); writes and the TCP connect block up to
    // the system's usual limits.
    int serialReadTimeoutMs = 100;
    int serialWriteTimeoutMs = 30000;
    int tcpConnectTimeoutMs = 30000;
    int tcpWriteTimeoutMs = 30000;

    static const LinkTiming& Default() {
        static const LinkTiming kDefault{};
        return kDefault;
    }
};

}  // namespace vir05
