// The fleet file: which controllers one poller reads, over which lines, and where it keeps what
// it read.
//
//     [poll]        database, output, tcp_parallel, archive, settings
//     [[line]]      name, port, baud            a serial line: an RS485 bus or a modem
//     [[controller]] name, line | host+port, address, phone, pin
//
// Every error names the file, the line in it and the key, and is found before anything is
// polled: unknown keys, wrong types, duplicate names, a controller on a missing line, an
// address outside 0..255, two controllers a bus could not tell apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vir05::poll {

enum class ArchiveMode {
    New,   // only the archive blocks that hold what is not stored yet
    All,   // the whole archive every time
    None,  // the memory image only
};

std::optional<ArchiveMode> ParseArchiveMode(std::string_view text);
const char* ArchiveModeName(ArchiveMode mode);

struct FleetLine {
    std::string name;
    std::string port;  // "COMn" (mapped by the settings file) or a device path
    std::uint32_t baud = 9600;
    std::string host;  // set: only the poller started with this --host polls the line
    int sourceLine = 0;
};

struct FleetController {
    std::string name;
    std::string line;  // set: on that serial line
    std::string host;  // set: over TCP
    std::uint16_t tcpPort = 10001;
    int address = 1;
    std::string phone;  // set: dialled through the modem on the line
    std::string pin;    // kept for later writes; never printed or stored
    int sourceLine = 0;

    bool OverTcp() const { return !host.empty(); }
};

// [mqtt]: where readings are published (poll/mqtt.h).
struct FleetMqtt {
    std::string broker;  // "mqtt://HOST[:PORT]"; empty: no [mqtt] table
    std::string user;
    std::string passwordFile;  // resolved like the database
    std::string prefix = "vir05";
    std::string discoveryPrefix = "homeassistant";
    int sourceLine = 0;
};

// A database given as a PostgreSQL connection URL rather than a file.
bool IsDatabaseUrl(std::string_view database);

struct Fleet {
    std::string path;      // the fleet file as given
    std::string database;  // absolute or relative to the working directory, resolved
    std::string output;    // empty: no files per controller
    std::string settings;  // the settings file with the COMn mapping (may not exist)
    int tcpParallel = 16;
    ArchiveMode archive = ArchiveMode::New;
    int leaseSeconds = 60;  // how long a controller taken by a poller stays its own unrenewed
    FleetMqtt mqtt;
    std::vector<FleetLine> lines;
    std::vector<FleetController> controllers;

    const FleetLine* Line(std::string_view name) const;
};

// Parses a fleet file's text. `path` names the file in messages and anchors relative paths.
// On failure returns nullopt and sets `error` to "PATH:LINE: message".
std::optional<Fleet> ParseFleet(std::string_view text, const std::string& path, std::string& error);
std::optional<Fleet> LoadFleet(const std::string& path, std::string& error);

// A controller's name is used as a folder name under the output folder: it must be a single
// path component a file system takes.
bool NameIsUsable(std::string_view name);

}  // namespace vir05::poll
