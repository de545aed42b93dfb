// A simulated controller on its lines and a link thread with short waits, for end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "../sim_controller.h"
#include "core/protocol/timing.h"
#include "link/rwclass.h"
#include "model/memory.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/generator.h"
#include "sim/lines.h"

namespace vir05::test {

// The protocol's waits shrunk so that retries and time-outs take milliseconds. The reply wait
// (ReplyTicks of 20) still spans 100 ms, far more than the simulator needs between bytes.
inline LinkTiming FastTiming() {
    LinkTiming t;
    t.tickMs = 5;
    t.beforeSerialOpenMs = 1;
    t.beforeModemResetMs = 5;
    t.hangupPauseMs = 30;
    t.beforeTcpSendMs = 1;
    t.noCarrierPauseMs = 10;
    t.modemDialAnswerTicks = 200;
    // Longer than the simulator's 5 ms send slices, so that draining the line does not stop
    // between two slices of one reply.
    t.serialReadTimeoutMs = 10;
    return t;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        areas_ = std::make_unique<MemoryAreas>();
        link_ = std::make_unique<TRWClass>(*areas_, FastTiming(), "");
        link_->SetShowLinkText([this](const std::string& text) { captions_.push_back(text); });
    }
    void TearDown() override {
        link_.reset();
        tcp_.reset();  // before the controllers it serves
    }

    // A simulated controller that lives until the end of the test, after every line serving it.
    SimController& MakeSim(std::uint16_t softVer = 107, int circuits = 2) {
        sims_.push_back(std::make_unique<SimController>(softVer, circuits));
        return *sims_.back();
    }

    void StartTcpServer(SimController& sim) {
        tcp_ = std::make_unique<sim::TcpServer>(sim.controller, sim.faults, 0);
        std::string error;
        ASSERT_TRUE(tcp_->Start(error)) << error;
    }
    bool StartTcp(int command) {
        return link_->StartTcpCommand(command, "127.0.0.1", tcp_->Port(), 1,
                                      areas_->ReceiveArea.data(), &areas_->ProgressCell);
    }
    // Waits for the link to park, serving its caption steps; fails the test past `limit`.
    void WaitDone(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!link_->Parked()) {
            link_->ServeSynchronize();
            if (std::chrono::steady_clock::now() > deadline) {
                link_->CancelCommand();
                link_->WaitParked();
                FAIL() << "the link did not park in time";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const std::uint8_t* Received() const { return areas_->ReceiveArea.data(); }

    std::unique_ptr<MemoryAreas> areas_;
    std::vector<std::unique_ptr<SimController>> sims_;  // destroyed after the lines below
    std::unique_ptr<TRWClass> link_;
    std::unique_ptr<sim::TcpServer> tcp_;
    std::vector<std::string> captions_;
};

}  // namespace vir05::test
