// A window session against the simulated controller over TCP, with the connection dialog set to
// it as a user would set it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <memory>

#include "../sim_controller.h"
#include "app/window_run.h"
#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/lines.h"

namespace vir05::test {

inline LinkTiming Fast() {
    LinkTiming t;
    t.tickMs = 5;
    t.beforeTcpSendMs = 1;
    return t;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tcp_ = std::make_unique<sim::TcpServer>(controller_, faults_, 0);
        std::string error;
        ASSERT_TRUE(tcp_->Start(error)) << error;
        areas_ = std::make_unique<MemoryAreas>();
        commandLine_.outputName.clear();  // no text output from these tests
        session_ =
            std::make_unique<WindowSession>(*areas_, commandLine_, StartupOutcome{}, log_, Fast());
        session_->FormShow();
        PointDialogAtSimulator();
    }
    // The dialog is set to the simulator as a user would set it.
    void PointDialogAtSimulator() {
        TFormConnect& c = session_->Connection();
        c.findChild<QRadioButton*>("TCP")->setChecked(true);
        c.findChild<QComboBox*>("_IP_addr")->setEditText("127.0.0.1");
        c.findChild<QComboBox*>("_IP_port")->setEditText(QString::number(tcp_->Port()));
        c.findChild<QSpinBox*>("_NetAddr")->setValue(1);
    }
    void TearDown() override { session_.reset(); }

    // Runs the event loop until the command cycle has finished.
    bool WaitIdle(int ms = 20000) {
        QElapsedTimer t;
        t.start();
        while (session_->Busy() && t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return !session_->Busy();
    }
    QString Caption() { return session_->Window().windowTitle(); }
    template <typename W>
    W* Control(const char* name) {
        return session_->Window().Pages()->findChild<W*>(name);
    }
    void SetPin(const char* pin) {
        session_->Connection().findChild<QLineEdit*>("PinCode")->setText(pin);
        session_->Connection().ShowFullClick();
    }

    test::SimController sim_{test::SimController::Serial500042(1)};
    sim::Controller& controller_ = sim_.controller;
    sim::FaultInjector& faults_ = sim_.faults;
    std::unique_ptr<std::uint8_t[]>& image_ = sim_.image;
    std::unique_ptr<std::uint8_t[]>& archive_ = sim_.archive;
    std::unique_ptr<sim::TcpServer> tcp_;
    std::unique_ptr<MemoryAreas> areas_;
    CommandLine commandLine_;
    RunLog log_;
    std::unique_ptr<WindowSession> session_;
};

}  // namespace vir05::test
