// A simulated fleet, its fleet file and database in a temporary folder, and what the database
// should hold: the records and events of a whole read of each simulated controller.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/protocol/timing.h"
#include "link/qt_lines.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/records.h"
#include "poll/fleet.h"
#include "poll/increment.h"
#include "poll/poller.h"
#include "poll/store_sqlite.h"
#include "sim/fleet.h"

namespace vir05::poll::test {

namespace fs = std::filesystem;

// The protocol's waits shrunk: a reply wait of 20 ticks still spans 600 ms, far more than the
// simulator needs between bytes, so that a busy machine does not turn into silent controllers
// (and a healthy controller would have to miss that five times in a row to fail).
inline LinkTiming TestTiming() {
    LinkTiming t;
    t.tickMs = 30;
    t.beforeSerialOpenMs = 1;
    t.beforeModemResetMs = 5;
    t.hangupPauseMs = 30;
    t.beforeTcpSendMs = 1;
    t.noCarrierPauseMs = 10;
    t.serialReadTimeoutMs = 10;
    return t;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vir05poll-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a query with its own connection and returns every row, columns joined by "|".
inline std::vector<std::string> Rows(const std::string& db, const std::string& sql) {
    sqlite3* h = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(h);
        return {"<cannot open>"};
    }
    sqlite3_busy_timeout(h, 10000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        rows.push_back(std::string("<error> ") + sqlite3_errmsg(h));
    } else {
        while (sqlite3_step(s) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                if (i > 0) row += "|";
                const unsigned char* t = sqlite3_column_text(s, i);
                row += t ? reinterpret_cast<const char*>(t) : "NULL";
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(h);
    return rows;
}

inline std::string One(const std::string& db, const std::string& sql) {
    const auto r = Rows(db, sql);
    return r.empty() ? "<none>" : r[0];
}

inline std::string Real(const std::optional<double>& v) {
    if (!v) return "NULL";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", *v);
    return buf;
}

// The records of a whole read of `unit` as the database keeps them, one text a record.
inline std::set<std::string> ExpectedRecords(sim::SimFleet::Unit& unit) {
    const auto image = unit.controller->Image();
    const auto archive = unit.controller->Archive();
    const int n = NormalisedCircuits(image.data());
    std::set<std::string> out;
    for (const ArchiveRow& r :
         DecodeRecords(archive.data(), n, WholeArchiveBlocks(U32(image.data(), addr::ArchPos))))
        out.insert(std::to_string(r.circuit) + "|" + r.time + "|" + Real(r.t11) + "|" + Real(r.t2) +
                   "|" + Real(r.tk) + "|" + Real(r.tn) + "|" + Real(r.real) + "|" + Real(r.base) +
                   "|" + std::to_string(r.klap) + "|" + std::to_string(r.errors));
    return out;
}

inline std::set<std::string> StoredRecords(const std::string& db, std::int32_t serial) {
    std::string columns = "circuit, time";
    for (const char* c : {"t11", "t2", "tk", "tn", "real", "base"})
        columns += std::string(", CASE WHEN ") + c + " IS NULL THEN 'NULL' ELSE printf('%.1f', " +
                   c + ") END";
    const auto rows =
        Rows(db, "SELECT " + columns +
                     ", klap, errors FROM archive_record WHERE serial=" + std::to_string(serial));
    return std::set<std::string>(rows.begin(), rows.end());
}

// The first few texts found in only one of the two sets, for a failure message.
inline std::string Diff(const std::set<std::string>& stored,
                        const std::set<std::string>& expected) {
    std::string out;
    int shown = 0;
    for (const std::string& s : stored)
        if (!expected.count(s) && shown++ < 3) out += "\n  only stored:   " + s;
    shown = 0;
    for (const std::string& s : expected)
        if (!stored.count(s) && shown++ < 3) out += "\n  only expected: " + s;
    return out + "\n  (" + std::to_string(stored.size()) + " stored, " +
           std::to_string(expected.size()) + " expected)";
}

inline ::testing::AssertionResult SameRecords(const std::set<std::string>& stored,
                                              const std::set<std::string>& expected) {
    if (stored == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Diff(stored, expected);
}

inline std::size_t ExpectedEvents(sim::SimFleet::Unit& unit) {
    const auto archive = unit.controller->Archive();
    ArchiveBlocks first;
    first.count = 1;
    std::set<std::string> unique;
    for (const EventRow& e : DecodeEvents(archive.data(), first))
        unique.insert(e.time + "|" + std::to_string(e.param) + "|" + std::to_string(e.circuit) +
                      "|" + std::to_string(e.newValue) + "|" + std::to_string(e.oldValue));
    return unique.size();
}

// Writes one new event into the first free slot of the controller's event log, as the
// controller does when a parameter changes (2026-12-11 10:15:30, a hand control of circuit 1).
inline void LogNewEvent(sim::Controller& controller) {
    auto image = controller.Image();
    auto archive = controller.Archive();
    int free = 0;
    while (free < arch::EventSlots &&
           EventSlotHoldsEvent(archive.data() + free * arch::EventSlotSize))
        ++free;
    ASSERT_LT(free, arch::EventSlots) << "the event log is full";
    const std::uint8_t e[16] = {0x30, 0x15, 0x10, 0x11, 0x12, 0x26, 0x05, 0, 9, 0, 7, 0};
    std::copy(e, e + 16, archive.begin() + free * arch::EventSlotSize);
    controller.Load(image.data(), archive.data());
}

// A small fleet: two controllers on TCP and one on the bus, each with `records` periodic records.
inline sim::FleetOptions SmallFleet(int records) {
    sim::FleetOptions o;
    o.tcp = 2;
    o.bus = 1;
    o.archiveRecords = records;
    return o;
}

// A simulated fleet with its fleet file, database and poller.
class FleetFixture : public ::testing::Test {
  protected:
    void StartFleet(const sim::FleetOptions& options, const std::string& poll = "") {
        sim_ = std::make_unique<sim::SimFleet>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(error)) << error;
        fleetPath_ = dir_ / "fleet.toml";
        std::ofstream(fleetPath_) << sim_->FleetToml("database = \"fleet.sqlite\"\n" + poll);
        const auto fleet = LoadFleet(fleetPath_, error);
        ASSERT_TRUE(fleet) << error;
        fleet_ = std::make_unique<Fleet>(*fleet);
        store_ = std::make_unique<SqliteStore>(fleet_->database);
        ASSERT_TRUE(store_->Open(error)) << error;
    }

    // The lines of each worker; a test may wrap them.
    std::function<WorkerLines()> lineFactory_ = [] {
        WorkerLines lines;
        lines.serial = std::make_unique<QtSerialLine>("", TestTiming());
        lines.tcp = std::make_unique<QtTcpLine>(TestTiming());
        return lines;
    };

    Round RunRound(ArchiveMode mode = ArchiveMode::New, PollHooks hooks = {},
                   std::vector<std::string> only = {}) {
        PollOptions options;
        options.archive = mode;
        options.timing = TestTiming();
        options.only = std::move(only);
        poller_ =
            std::make_unique<Poller>(*fleet_, *store_, options, lineFactory_, std::move(hooks));
        return poller_->RunRound();
    }

    const ControllerResult* Result(const Round& round, const std::string& name) {
        for (const ControllerResult& r : round.results)
            if (r.name == name) return &r;
        return nullptr;
    }

    std::string Db() const { return fleet_->database; }

    void TearDown() override {
        poller_.reset();
        store_.reset();
        if (sim_) sim_->Stop();
    }

    TempDir dir_;
    std::string fleetPath_;
    std::unique_ptr<sim::SimFleet> sim_;
    std::unique_ptr<Fleet> fleet_;
    std::unique_ptr<SqliteStore> store_;
    std::unique_ptr<Poller> poller_;
};

}  // namespace vir05::poll::test
