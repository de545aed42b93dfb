// Any fleet file: either a clear error that names the file and a line, or a fleet that keeps
// every rule the poller relies on.
#include <cstdlib>
#include <set>
#include <string>

#include "poll/fleet.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vir05::poll;
    std::string error;
    const auto fleet =
        ParseFleet(std::string_view(reinterpret_cast<const char*>(data), size), "f.toml", error);
    if (!fleet) {
        // "f.toml:LINE: message"
        Check(error.rfind("f.toml:", 0) == 0);
        Check(error.find(": ", 7) != std::string::npos);
        return 0;
    }
    Check(fleet->tcpParallel >= 1 && fleet->tcpParallel <= 1024);
    Check(!fleet->database.empty());
    std::set<std::string> lines, ports, names;
    for (const FleetLine& l : fleet->lines) {
        Check(NameIsUsable(l.name) && lines.insert(l.name).second);
        Check(!l.port.empty() && ports.insert(l.port).second);
        Check(l.baud >= 50);
    }
    for (const FleetController& c : fleet->controllers) {
        Check(NameIsUsable(c.name) && names.insert(c.name).second);
        Check(c.address >= 0 && c.address <= 255);
        Check(c.line.empty() != c.host.empty());
        if (!c.line.empty()) Check(fleet->Line(c.line) != nullptr);
        if (c.OverTcp()) Check(c.phone.empty() && c.tcpPort >= 1);
        Check(c.pin.empty() || c.pin.size() == 4);
    }
    return 0;
}
