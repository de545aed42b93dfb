// Which device a port text names on this machine.
//
// The connection settings and the command line name serial ports the way the controller's
// documentation does, "COM1", "COM2", ... On Linux "COMn" is /dev/ttyS(n-1) unless the settings
// file maps it to another device with a key of that name in section "Setting", such as
// COM3=/dev/ttyUSB0 for a USB adapter; a text that holds a path is used as that path, and a bare
// device name ("ttyUSB0") is looked up under /dev.
#pragma once

#include <string>

#include "model/settings.h"

namespace vir05 {

// `settings` may be null: then only the default rule applies.
std::string ResolvePortDevice(const std::string& portText, const IniFile* settings);

// The port number of a "COMn" text (any letter case), or 0 when the text is not one.
int ComPortNumber(const std::string& portText);

}  // namespace vir05
