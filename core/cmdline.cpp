#include "core/cmdline.h"

#include "core/format.h"

namespace vir05 {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// File names keep the case of their directory part: on a case-sensitive file system a
// lower-cased directory is another directory. The name itself is lower-cased, as callers expect.
std::string LowerFileName(const std::string& asGiven) {
    const auto slash = asGiven.find_last_of('/');
    if (slash == std::string::npos) return Lower(asGiven);
    return asGiven.substr(0, slash + 1) + Lower(asGiven.substr(slash + 1));
}

}  // namespace

int CommandLine::Command() const {
    if (setClock) return kCmdSetClock;
    if (readCurrent) return kCmdReadCurrent;
    return kCmdReadArchive;
}

int CommandLine::NetAddress() const {
    return ParseIntOr(netAddr, 0);
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    for (const std::string& arg : args) {
        if (arg.empty()) continue;
        if (arg[0] != '-') {
            if (arg.find(".vi5") != std::string::npos)
                cl.dataFiles.push_back({arg, cl.commandLineRun, cl.outputName});
            continue;
        }
        const std::string raw = arg.substr(1);  // case as given, for file values
        const std::string opt = Lower(raw);
        if (opt.empty()) continue;
        const char second = opt.size() > 1 ? opt[1] : '\0';
        const std::string value1 = opt.substr(1);
        const std::string value2 = opt.size() > 2 ? opt.substr(2) : std::string();
        switch (opt[0]) {
            case 'o':
                cl.outputName = LowerFileName(raw.substr(1));
                break;
            case 'r':
                cl.readCurrent = true;
                cl.commandLineRun |= kRunHidden;
                break;
            case 'z':
                // The file to convert must be found as named.
                cl.convert = true;
                cl.convertFile = raw.substr(1);
                cl.commandLineRun |= kRunConvert;
                break;
            case 'x':
                if (second == 'h') cl.archiveSlots = ParseIntOr(value2, 0);
                break;
            case 'p':
                cl.comPort = ParseIntOr(value1, 1);
                break;
            case 'b':
                cl.baudRate = ParseIntOr(value1, 9600);
                break;
            case 'n':
                cl.netAddr = value1;
                break;
            case 'm':
                if (second == 'd') {
                    cl.phone = value2;
                    cl.commandLineRun |= kRunHidden;
                } else if (second == 'r') {
                    cl.modemRate = ParseIntOr(value2, 0);
                    cl.commandLineRun |= kRunHidden;
                }
                break;
            case 's':
                if (second == 'i') {
                    cl.host = value2;
                    cl.commandLineRun |= kRunHidden;
                } else if (second == 'p') {
                    cl.tcpPort = ParseIntOr(value2, 1);
                    cl.tcpPortText = value2;
                    cl.commandLineRun |= kRunHidden;
                } else if (second == 't') {
                    cl.setClock = true;
                    cl.commandLineRun |= kRunHidden;
                } else if (opt == "show") {
                    cl.commandLineRun = kRunShow;
                }
                break;
            default:
                break;
        }
    }
    return cl;
}

}  // namespace vir05
