#include "app/command_driver.h"

#include <QDateTime>
#include <QLocale>

#include "core/completion.h"
#include "model/datafile.h"
#include "model/memory.h"

namespace vir05 {

ConnectionValues CommandLineConnection(const CommandLine& cl) {
    ConnectionValues v;
    v.transport = !cl.host.empty()    ? Transport::Tcp
                  : !cl.phone.empty() ? Transport::Modem
                                      : Transport::Rs485;
    v.host = cl.host;
    v.tcpPort = cl.tcpPort;
    v.netAddr = cl.NetAddress();
    v.port = cl.PortName();
    v.phone = cl.phone;
    v.baudRate = static_cast<std::uint32_t>(cl.baudRate);
    return v;
}

bool CommandDriver::Start(int command, const ConnectionValues& v, int archiveSlots) {
    const bool started =
        v.IsTcp() ? link_.StartTcpCommand(command, v.host, v.tcpPort, v.netAddr,
                                          areas_.ReceiveArea.data(), &areas_.ProgressCell)
                  : link_.StartSerialCommand(command, v.port, v.netAddr, v.phone, v.baudRate,
                                             areas_.ReceiveArea.data(), &areas_.ProgressCell);
    if (started && archiveSlots != 0) link_.Request().ArchiveSlots = archiveSlots;
    return started;
}

bool CommandDriver::Start(int command, const CommandLine& cl) {
    return Start(command, CommandLineConnection(cl), cl.archiveSlots);
}

bool CommandDriver::Poll() {
    link_.ServeSynchronize();
    return link_.Parked();
}

Completion CommandDriver::TakeOver(bool cycleMode, const CycleReactions& reactions) {
    const LinkRequest& req = link_.Request();
    Completion c;
    c.done.status = link_.GetStatus();
    c.done.command = req.Command.load();
    c.done.errorText = req.ErrorText;
    c.done.durationDays = req.DurationDays();
    c.done.cycleMode = cycleMode;
    c.done.now =
        QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat).toStdString();
    c.done.archiveStopped = req.ArchiveStopped;
    c.done.blocksRead = req.ArchiveBlocksRead;
    c.done.blocksPlanned = req.ArchiveBlocksPlanned;
    c.started = req.StartCommand;
    c.outcome = CompleteCommand(c.done);
    if (reactions.ended) reactions.ended(c);
    if (c.outcome.takeOverRead) TakeOverRead(areas_, c.outcome.archiveRead);
    if (c.outcome.saveDataFile) {
        const std::string name = ArchiveDataFileName(areas_);
        if (std::string why; !SaveDataFile(name, areas_, why)) {
            c.unsavedFile = name;
            c.unsavedWhy = why;
        }
    }
    if (c.outcome.takeOverRead && reactions.present) reactions.present(c);
    return c;
}

}  // namespace vir05
