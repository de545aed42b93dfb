#include "core/command_cycle.h"

#include "core/completion.h"
#include "core/protocol/commands.h"

namespace vir05 {

namespace {
constexpr int kReadCurrent = command::ReadCurrent, kReadArchive = command::ReadArchive,
              kWriteConfig = command::WriteConfig, kSetClock = command::SetClock,
              kWriteSerial = command::WriteSerial, kEmulatorStep = command::EmulatorStep;
}  // namespace

CommandOutcome CompleteCommand(const CompletedCommand& d) {
    CommandOutcome o;
    if (d.status != link_status::Success) {
        o.exitCode = 1;
        if (d.status == link_status::Cancelled) {
            o.keepCaption = true;  // a cancellation is not reported
        } else {
            o.caption = "Ошибка: " + d.now + " " + d.errorText;
        }
        // A transmission error does not end cyclic reading; a cancellation or a port that
        // cannot be opened does.
        if (d.cycleMode && d.status > 0 && d.command == kReadCurrent)
            o.followUp = kReadCurrent;
        else
            o.restorePanels = true;
        return o;
    }
    o.success = true;
    o.exitCode = 0;
    switch (d.command) {
        case kReadArchive:
            if (d.archiveStopped) {
                // What was read is shown, but a stop is no success: the data file named after
                // the serial number is left as it is, and nothing follows.
                o.success = false;
                o.exitCode = 1;
                o.takeOverRead = true;
                o.archiveRead = true;
                o.restorePanels = true;
                o.caption = "Чтение архива остановлено: прочитано " + std::to_string(d.blocksRead) +
                            " из " + std::to_string(d.blocksPlanned) +
                            " блоков, файл данных не сохранён";
                break;
            }
            [[fallthrough]];
        case kReadCurrent:
            o.takeOverRead = true;
            o.archiveRead = d.command == kReadArchive;
            o.saveDataFile = o.archiveRead;
            o.caption = "Чтение успешно " + ElapsedText(d.durationDays);
            if (d.cycleMode)
                o.followUp = d.command;
            else
                o.restorePanels = true;
            break;
        case kWriteConfig:
            o.restorePanels = true;
            o.caption = "Конфигурация записана";
            break;
        case kSetClock:
            o.restorePanels = true;
            o.caption = "Коррекция времени произведена";
            o.followUp = kReadCurrent;
            o.pauseMs = 1000;
            break;
        case kWriteSerial:
            o.restorePanels = true;
            o.caption = "S/N записан";
            o.followUp = kReadCurrent;
            o.pauseMs = 1000;
            o.advanceSerial = true;
            break;
        case kEmulatorStep:
            o.emulatorStep = true;
            o.keepCaption = true;
            break;
        default:
            o.restorePanels = true;
            o.keepCaption = true;
            break;
    }
    return o;
}

}  // namespace vir05
