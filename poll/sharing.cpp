#include "poll/sharing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>

#include "model/layout.h"

namespace vir05::poll {

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

int KeepOwnLines(Fleet& fleet, const std::string& host) {
    std::set<std::string> foreign;
    std::erase_if(fleet.lines, [&](const FleetLine& l) {
        if (l.host.empty() || l.host == host) return false;
        foreign.insert(l.name);
        return true;
    });
    const auto before = fleet.controllers.size();
    std::erase_if(fleet.controllers,
                  [&](const FleetController& c) { return foreign.count(c.line) > 0; });
    return static_cast<int>(before - fleet.controllers.size());
}

ControllerState StateOf(const Reading& r) {
    ControllerState s;
    s.name = r.controller;
    s.serial = static_cast<std::uint32_t>(r.serial);
    s.circuits = std::clamp(r.circuits, 1, kCircuitCount);
    s.finished = r.finished;
    s.values = r.currentValues;
    for (const auto& [key, value] : r.currentValues)
        if (key == "SoftVer") s.softVersion = value;
    if (r.image.size() >= kImageSize) {
        for (int c = 0; c < s.circuits; ++c) {
            const auto at = static_cast<std::size_t>(CircuitField(c, rec::KlapPercent));
            s.valvePercent.push_back(static_cast<std::int8_t>(r.image[at]));
        }
    }
    return s;
}

double UtcSeconds(const std::string& text) {
    std::tm tm{};
    int y, mo, d, h, mi, sec;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &sec) != 6) return 0;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    return static_cast<double>(timegm(&tm));
}

}  // namespace vir05::poll
