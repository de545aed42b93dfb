// A simulated fleet: many controllers at once, some on TCP (one port each), some on one RS485
// bus on a pseudo-terminal, each with its own generated contents, serial number and faults, and
// the fleet file that polls them all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/controller.h"
#include "sim/faults.h"
#include "sim/lines.h"

namespace vir05::sim {

struct FleetOptions {
    int tcp = 0;  // controllers on TCP, one port each
    int bus = 0;  // controllers on the bus, network addresses 1, 2, ...
    std::uint32_t seed = 1;
    std::uint32_t busBaud = 115200;
    int archiveRecords = -1;  // periodic records of each generated archive; -1 a full ring
};

class SimFleet {
  public:
    struct Unit {
        std::string name;
        std::int32_t serial = 0;
        int address = 1;
        bool onBus = false;
        std::unique_ptr<Controller> controller;
        std::unique_ptr<FaultInjector> faults;
        std::unique_ptr<TcpServer> tcp;
    };

    explicit SimFleet(const FleetOptions& options);
    ~SimFleet();
    bool Start(std::string& error);
    void Stop();

    std::vector<Unit>& Units() { return units_; }
    const std::string& BusPath() const;

    // The fleet file for what is served. `poll` is put into the [poll] table as it stands
    // (for example "database = \"fleet.sqlite\"\n").
    std::string FleetToml(const std::string& poll) const;
    // New periodic records in every controller (as if `count` periods had passed).
    void AppendRecords(int count);

  private:
    FleetOptions options_;
    std::vector<Unit> units_;
    std::unique_ptr<BusServer> bus_;
};

}  // namespace vir05::sim
