// The link thread: the one thread that touches the line to the controller.
//
// It carries out one command at a time and parks itself after each. The user-interface thread
// fills the request through the start calls only while the link is parked, and otherwise only
// cancels, asks to skip the current wait and reads the atomic cells. When the link wants the
// caption to show its error text it waits until the user-interface thread has served that step
// (`ServeSynchronize`), which every wait of the user interface for the link keeps doing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/protocol/link_engine.h"
#include "link/qt_lines.h"

class QThread;

namespace vir05 {

struct MemoryAreas;

class TRWClass {
  public:
    // Opens the trace `tracePath` ("test.txt" for the program; empty: no trace). `settingsPath`
    // is the settings file that maps "COMn" port texts to devices.
    TRWClass(MemoryAreas& areas, const LinkTiming& timing = LinkTiming::Default(),
             const std::string& tracePath = "test.txt", std::string settingsPath = {});
    // Cancels a running command, serves its last caption step and ends the thread.
    ~TRWClass();
    TRWClass(const TRWClass&) = delete;
    TRWClass& operator=(const TRWClass&) = delete;

    // Start calls: while the link is busy they cancel the running command and start nothing.
    // Return whether the command was started.
    bool StartTcpCommand(int command, const std::string& host, int tcpPort, int netAddr,
                         std::uint8_t* destination, std::atomic<std::uint8_t>* progress);
    bool StartSerialCommand(int command, const std::string& portName, int netAddr,
                            const std::string& phone, std::uint32_t baudRate,
                            std::uint8_t* destination, std::atomic<std::uint8_t>* progress);
    void CancelCommand() { engine_.Request().Command = 0; }
    int GetStatus() const { return engine_.Request().Status; }
    bool Parked() const { return parked_.load(); }

    // The request's cells, for reading after the link has parked and for the few writes the
    // user interface may make while it runs (SkipWait, ArchiveSlots).
    LinkRequest& Request() { return engine_.Request(); }
    const LinkRequest& Request() const { return engine_.Request(); }

    // The caption step: runs `show` with the error text on the user-interface thread.
    void SetShowLinkText(std::function<void(const std::string&)> show) { show_ = std::move(show); }
    // Runs a caption step the link is waiting for; returns whether one ran.
    bool ServeSynchronize();
    // Waits until the link has parked, serving its caption steps meanwhile.
    void WaitParked();

  private:
    void Body();
    void Synchronize();  // on the link thread

    QtSerialLine serial_;
    QtTcpLine tcp_;
    LineChoice line_{serial_, tcp_};  // the one the request's UseTcp names, command by command
    std::unique_ptr<TraceLog> trace_;
    LinkEngine engine_;
    std::function<void(const std::string&)> show_;

    std::mutex mutex_;
    std::condition_variable wake_;    // the link waits here while parked
    std::condition_variable served_;  // the link waits here for its caption step
    bool runRequested_ = false;
    bool syncPending_ = false;
    bool quit_ = false;
    std::atomic<bool> parked_{true};
    // A QThread, so that the line's sockets and ports are used in a thread Qt knows.
    std::unique_ptr<QThread> thread_;
};

}  // namespace vir05
