// Where the poller keeps what it reads: one reading per controller and round, the current values
// of each successful reading, every periodic archive record and every event, each stored once.
//
// The poller calls a Store from one thread at a time (it serialises the calls itself), so an
// implementation needs no locking of its own. Every method reports failure by its result and an
// error text; none throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vir05::poll {

// What the incremental archive read needs to know of the last successful archive read of a
// controller (by its fleet name).
struct StoredState {
    std::int64_t serial = 0;    // DevNumber
    int numSystems = 0;         // 1 or 2 (normalised)
    std::uint32_t archPos = 0;  // ArchPos of the image read with that archive
    // The 32-bit time key (date high, time low) of the periodic record just before archPos, or
    // nullopt when that slot held no valid record. The next read checks it is still there.
    std::optional<std::uint32_t> anchorKey;
    std::string clock;  // the controller's clock then, "YYYY-MM-DD HH:MM:SS"
    // A digest of the event log as then read (see EventLogDigest), or nullopt when not known:
    // the next incremental read offers the events again only when the log changed since.
    std::optional<std::uint64_t> eventLog;
};

// One periodic archive record of one circuit. Temperatures in degrees Celsius; nullopt stands
// for the controller's no-value code.
struct ArchiveRow {
    int circuit = 0;   // 1 or 2
    std::string time;  // "YYYY-MM-DD HH:MM:SS", the record's own stamp
    std::optional<double> t11, t2, tk, tn, real, base;
    int klap = 0;
    int errors = 0;
};

struct EventRow {
    std::string time;  // "YYYY-MM-DD HH:MM:SS"
    int param = 0;     // bits 0..6 of the code, or 255 for "switched off"
    int circuit = 0;   // 1 or 2; 0 for "switched off"
    std::string name;  // the parameter's name
    int newValue = 0;
    int oldValue = 0;
};

// One reading of one controller, as the poller hands it to the store.
struct Reading {
    std::string controller;  // fleet name
    int address = 0;
    std::string started, finished;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    bool ok = false;
    int status = 0;     // the link status
    std::string error;  // the link's own text; empty on success
    int archiveBlocks = 0;
    std::uint64_t lineBytes = 0;  // both directions

    // Successful readings only.
    std::int64_t serial = 0;
    double softVer = 0;               // SoftVer / 100
    int circuits = 0;                 // normalised NumSystems
    std::vector<std::uint8_t> image;  // 1955 bytes
    std::vector<std::pair<std::string, std::string>> currentValues;
    std::vector<ArchiveRow> records;
    std::vector<EventRow> events;
    // Set when an archive was read: the state the next incremental read starts from.
    std::optional<StoredState> archiveState;
};

struct SaveCounts {
    std::int64_t readingId = 0;
    int recordsNew = 0;
    int eventsNew = 0;
};

class Store {
  public:
    virtual ~Store() = default;

    // Opens the store, creating or upgrading its schema. False with `error` when the store is
    // unusable (the poller then ends with exit code 2).
    virtual bool Open(std::string& error) = 0;

    // The state of the last successful archive read of `controller`; nullopt (and no error)
    // when none is stored. False on a store failure.
    virtual bool State(const std::string& controller, std::optional<StoredState>& state,
                       std::string& error) = 0;

    // Stores a successful reading whole in one transaction: the reading, its current values,
    // the records and events not stored yet, the controller's row and its archive state.
    // Nothing is stored when it fails.
    virtual bool SaveReading(const Reading& reading, SaveCounts& counts, std::string& error) = 0;

    // Stores a failed reading: its row (ok = 0, status, error) and the controller's last error,
    // nothing else.
    virtual bool SaveFailure(const Reading& reading, std::string& error) = 0;
};

}  // namespace vir05::poll
