// The one command cycle of the program: a command starts over a connection, the link runs it
// while its owner polls, and the completed command is taken over (the areas, the presentation,
// the data file, what follows). The window's timer and the unattended run both end their
// commands here and keep only their own reactions: captions, panels, the run log, the exit.
#pragma once

#include <functional>
#include <string>

#include "core/cmdline.h"
#include "core/command_cycle.h"
#include "link/rwclass.h"
#include "ui/connect/connection.h"

namespace vir05 {

struct MemoryAreas;

// A command the link has completed, and what the cycle made of it.
struct Completion {
    CompletedCommand done;   // what the link reported
    CommandOutcome outcome;  // what follows from it
    int started = 0;         // the command number that was started (a service code ends as a read)
    // After an archive read whose data file could not be saved: its name and why.
    std::string unsavedFile;
    std::string unsavedWhy;

    bool DataFileSaved() const { return unsavedFile.empty(); }
    // A read whose data file was not saved is no success, whatever the link reported.
    int ExitStatus() const {
        return DataFileSaved() ? outcome.exitCode : static_cast<int>(vir05::ExitCode::Failure);
    }
};

// The owner's reactions within the take-over, in this order; an empty one does nothing.
struct CycleReactions {
    // Every completed command, before anything is taken over.
    std::function<void(const Completion&)> ended;
    // A read now in the areas, its data file saved or not: the presentation.
    std::function<void(const Completion&)> present;
};

// The connection the command line gave: TCP when it named a host, otherwise its COM port,
// dialled when it gave a telephone number.
ConnectionValues CommandLineConnection(const CommandLine& commandLine);

class CommandDriver {
  public:
    CommandDriver(TRWClass& link, MemoryAreas& areas) : link_(link), areas_(areas) {}

    // Starts `command` over `line` into the receive area; `archiveSlots` other than 0 replaces
    // the link's slot count of an archive read. While the link is busy this only cancels the
    // running command. Returns whether the command was started.
    bool Start(int command, const ConnectionValues& line, int archiveSlots = 0);
    // The command the command line asked for, over its connection and with its slot count.
    bool Start(int command, const CommandLine& commandLine);
    // Serves the link's caption step; true once the link has parked.
    bool Poll();
    // Takes over the command the parked link has completed: what follows from it, the read into
    // the areas, the data file of an archive read, then the presentation.
    Completion TakeOver(bool cycleMode, const CycleReactions& reactions = {});

  private:
    TRWClass& link_;
    MemoryAreas& areas_;
};

}  // namespace vir05
