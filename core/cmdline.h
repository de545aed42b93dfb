// The command line of an unattended run.
//
// Parameters are processed left to right. One that begins with "-" is an option: the dash is
// removed and the rest lower-cased; the first letter picks the option, two-letter options take
// the second letter too, and the rest of the parameter is the value. An option given twice
// takes its last value; a bare dash or an unknown letter has no effect. A parameter without a
// dash that contains ".vi5" names a data file to open; other parameters are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/protocol/commands.h"

namespace vir05 {

// Bits of CommandLineRun; -show sets it to kRunShow.
inline constexpr int kRunHidden = 1;   // -r, -md, -mr, -si, -sp, -st
inline constexpr int kRunConvert = 2;  // -z
inline constexpr int kRunShow = -1;    // -show

// Command numbers a command-line run starts.
inline constexpr int kCmdReadCurrent = ToCell(LinkCommand::ReadCurrent);
inline constexpr int kCmdReadArchive = ToCell(LinkCommand::ReadArchive);
inline constexpr int kCmdSetClock = ToCell(LinkCommand::SetClock);

struct CommandLine {
    std::string outputName = "def.txt";  // -o
    bool readCurrent = false;            // -r
    bool convert = false;                // -z given
    std::string convertFile;             // -z
    int archiveSlots = 0;                // -xh; 0 keeps the link's default
    int comPort = 1;                     // -p
    int baudRate = 9600;                 // -b
    std::string netAddr = "0";           // -n, converted when the command starts
    std::string phone;                   // -md
    int modemRate = 0;                   // -mr, accepted and not used
    std::string host;                    // -si
    int tcpPort = 10001;                 // -sp
    std::string tcpPortText;             // -sp as given, to tell a typo from a port
    bool setClock = false;               // -st
    int commandLineRun = 0;              // CommandLineRun
    // Data files named without an option, in the order given, each with the CommandLineRun
    // value at its place on the line: where it was already non-zero, opening the file converts
    // it and ends the run.
    struct DataFileArg {
        std::string name;
        int runAtArg;
        std::string outputAtArg;  // the text output name at its place on the line
    };
    std::vector<DataFileArg> dataFiles;

    std::string PortName() const { return "COM" + std::to_string(comPort); }
    // SetClock with -st, else ReadCurrent with -r, else ReadArchive.
    int Command() const;
    // The network address as a number: 0 when it is not one.
    int NetAddress() const;
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Exit codes of a command-line run.
enum class ExitCode : int { Success = 0, Failure = 1 };

}  // namespace vir05
