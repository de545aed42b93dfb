#include "link/rwclass.h"

#include <QThread>
#include <chrono>
#include <thread>

#include "model/memory.h"

namespace vir05 {

TRWClass::TRWClass(MemoryAreas& areas, const LinkTiming& timing, const std::string& tracePath,
                   std::string settingsPath)
    : serial_(std::move(settingsPath), timing),
      tcp_(timing),
      trace_(std::make_unique<TraceLog>(tracePath)),
      engine_(line_, LinkImage::Of(areas), timing, trace_.get()) {
    engine_.SetShowLinkText([this] { Synchronize(); });
    thread_.reset(QThread::create([this] { Body(); }));
    thread_->start();
}

TRWClass::~TRWClass() {
    CancelCommand();
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    served_.notify_all();
    thread_->wait();
}

bool TRWClass::StartTcpCommand(int command, const std::string& host, int tcpPort, int netAddr,
                               std::uint8_t* destination, std::atomic<std::uint8_t>* progress) {
    if (!parked_) {
        CancelCommand();
        return false;
    }
    engine_.Request().FillTcp(command, host, tcpPort, netAddr, destination, progress);
    std::lock_guard lock(mutex_);
    parked_ = false;
    runRequested_ = true;
    wake_.notify_one();
    return true;
}

bool TRWClass::StartSerialCommand(int command, const std::string& portName, int netAddr,
                                  const std::string& phone, std::uint32_t baudRate,
                                  std::uint8_t* destination, std::atomic<std::uint8_t>* progress) {
    if (!parked_) {
        engine_.Request().ArchiveSlots = static_cast<std::int32_t>(kDefaultArchiveSlots);
        CancelCommand();
        return false;
    }
    engine_.Request().FillSerial(command, portName, netAddr, phone, baudRate, destination,
                                 progress);
    std::lock_guard lock(mutex_);
    parked_ = false;
    runRequested_ = true;
    wake_.notify_one();
    return true;
}

void TRWClass::Body() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return runRequested_ || quit_; });
            if (quit_) return;
            runRequested_ = false;
        }
        engine_.RunPass();
        parked_ = true;
    }
}

void TRWClass::Synchronize() {
    std::unique_lock lock(mutex_);
    if (quit_) return;
    syncPending_ = true;
    served_.wait(lock, [this] { return !syncPending_ || quit_; });
}

bool TRWClass::ServeSynchronize() {
    {
        std::lock_guard lock(mutex_);
        if (!syncPending_) return false;
    }
    // The link is waiting, so its error text holds still while the caption takes it.
    if (show_) show_(engine_.Request().ErrorText);
    {
        std::lock_guard lock(mutex_);
        syncPending_ = false;
    }
    served_.notify_all();
    return true;
}

void TRWClass::WaitParked() {
    while (!parked_) {
        if (!ServeSynchronize()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace vir05
