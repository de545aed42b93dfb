// What the command cycle does when the link has parked after a command.
//
// The window's 10 ms timer and the hidden command-line run both end a command here: the
// outcome says what to take over from the receive area, what the caption says, what follows.
#pragma once

#include <string>

namespace vir05 {

struct CommandOutcome {
    bool success = false;
    // The areas take over the received image (and the archive for an archive read), and the
    // presentation runs.
    bool takeOverRead = false;
    bool archiveRead = false;
    // After an archive read: the data file named after the serial number.
    bool saveDataFile = false;
    // The caption; `keepCaption` leaves it as it was (a cancellation).
    std::string caption;
    bool keepCaption = false;
    // Tool buttons back (PanelRead shown, PanelProgress hidden).
    bool restorePanels = false;
    // The follow-up command, 0 for none; started after `pauseMs`.
    int followUp = 0;
    int pauseMs = 0;
    // After a serial-number write: the next serial number goes up by one and is stored.
    bool advanceSerial = false;
    // After an emulator exchange: the emulator's own completion step runs.
    bool emulatorStep = false;
    int exitCode = 1;
};

struct CompletedCommand {
    int status = 0;   // LinkStatus
    int command = 0;  // the command number that completed
    std::string errorText;
    double durationDays = 0;
    bool cycleMode = false;  // cyclic reading is on
    // An archive read the user stopped after some of its blocks: the blocks read and planned.
    bool archiveStopped = false;
    int blocksRead = 0;
    int blocksPlanned = 0;
    std::string now;  // the current date and time in the system's formats
};

CommandOutcome CompleteCommand(const CompletedCommand& done);

}  // namespace vir05
