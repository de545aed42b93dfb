#include "sim/fleet.h"

#include <array>

#include "model/layout.h"
#include "sim/generator.h"

namespace vir05::sim {

SimFleet::SimFleet(const FleetOptions& options) : options_(options) {
    const int total = options.tcp + options.bus;
    units_.reserve(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i) {
        Unit u;
        u.onBus = i >= options.tcp;
        const int k = u.onBus ? i - options.tcp + 1 : i + 1;
        u.name = (u.onBus ? "ИТП-" : "ЦТП-") + std::to_string(k);
        u.address = u.onBus ? k : 1;
        u.serial = 600001 + i;
        GeneratorOptions g;
        g.seed = options.seed * 1000003u + static_cast<std::uint32_t>(i);
        g.circuits = i % 2 == 0 ? 2 : 1;
        // Both archive forms on both kinds of line: plain blocks below 1.07, compressed from it.
        g.softVer = (i / 2) % 2 == 0 ? 107 : 106;
        if (u.onBus) g.softVer = 107;
        g.serial = u.serial;
        g.archiveRecords = options.archiveRecords;
        std::array<std::uint8_t, kImageSize> image{};
        std::vector<std::uint8_t> archive(kArchiveSize);
        GenerateContents(g, image.data(), archive.data());
        u.controller = std::make_unique<Controller>();
        u.controller->Load(image.data(), archive.data());
        u.controller->SetNetAddress(static_cast<std::uint8_t>(u.address));
        u.faults = std::make_unique<FaultInjector>();
        units_.push_back(std::move(u));
    }
}

SimFleet::~SimFleet() {
    Stop();
}

bool SimFleet::Start(std::string& error) {
    std::vector<BusServer::Member> members;
    for (Unit& u : units_) {
        if (u.onBus) {
            members.push_back({u.controller.get(), u.faults.get()});
            continue;
        }
        u.tcp = std::make_unique<TcpServer>(*u.controller, *u.faults, 0);
        if (!u.tcp->Start(error)) return false;
    }
    if (!members.empty()) {
        bus_ = std::make_unique<BusServer>(std::move(members), options_.busBaud);
        if (!bus_->Start(error)) return false;
    }
    return true;
}

void SimFleet::Stop() {
    if (bus_) bus_->Stop();
    for (Unit& u : units_)
        if (u.tcp) u.tcp->Stop();
}

const std::string& SimFleet::BusPath() const {
    static const std::string kNone;
    return bus_ ? bus_->SlavePath() : kNone;
}

std::string SimFleet::FleetToml(const std::string& poll) const {
    std::string out = "# The simulated fleet of vir05sim.\n[poll]\n" + poll;
    if (bus_)
        out += "\n[[line]]\nname = \"bus1\"\nport = \"" + bus_->SlavePath() +
               "\"\nbaud = " + std::to_string(options_.busBaud) + "\n";
    for (const Unit& u : units_) {
        out += "\n[[controller]]\nname = \"" + u.name + "\"\n";
        if (u.onBus)
            out += "line = \"bus1\"\n";
        else
            out +=
                "host = \"127.0.0.1\"\nport = " + std::to_string(u.tcp ? u.tcp->Port() : 0) + "\n";
        out += "address = " + std::to_string(u.address) + "\n";
    }
    return out;
}

void SimFleet::AppendRecords(int count) {
    for (Unit& u : units_)
        u.controller->AppendRecords(count);
}

}  // namespace vir05::sim
