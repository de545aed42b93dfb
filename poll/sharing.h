// What a poller needs to share a fleet with others and hand its readings on: its host name, the
// lines that belong to it, the MQTT state of a reading, and times as seconds since the epoch.
#pragma once

#include <string>

#include "poll/fleet.h"
#include "poll/mqtt.h"
#include "poll/store.h"

namespace vir05::poll {

// The machine's host name ("localhost" when it has none).
std::string HostName();

// Leaves out the lines that belong to another host, with their controllers: only the machine
// that has the port may open it. Lines without a host stay (any poller may take them, one
// process at a time). Returns how many controllers were left out.
int KeepOwnLines(Fleet& fleet, const std::string& host);

// The MQTT state of a good reading: its current values, the valve position of each circuit
// from the image, its end.
ControllerState StateOf(const Reading& reading);

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since the epoch; 0 when it does not read.
double UtcSeconds(const std::string& text);

}  // namespace vir05::poll
