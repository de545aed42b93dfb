// Any settings file: parsed, read, changed and written back as text.
#include <string>

#include "model/ports.h"
#include "model/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vir05::IniFile ini;
    ini.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)ini.ReadString("Setting", "WorkDir", "/");
    (void)ini.ReadInteger("Setting", "NetAddr", 0);
    (void)vir05::ResolvePortDevice("COM3", &ini);
    ini.WriteString("Setting", "NextSerial", "500002");
    ini.WriteInteger("Other", "X", 1);
    const std::string text = ini.Text();
    // Written back and parsed again, the change is still there.
    vir05::IniFile again;
    again.Parse(text);
    return again.ReadString("Setting", "NextSerial", "") == "500002" ? 0 : 1;
}
