// The outcome of a completed command: caption, take-over, follow-up, exit code.
#include <gtest/gtest.h>

#include "core/command_cycle.h"

namespace vir05 {
namespace {

TEST(CommandCycle, Successes) {
    struct Case {
        int command;
        bool cycle;
        const char* caption;
        bool takeOver, archive, save, restore;
        int followUp, pauseMs;
        bool serial;
    } cases[] = {
        {1, false, "Чтение успешно 0:12:00", true, false, false, true, 0, 0, false},
        {1, true, "Чтение успешно 0:12:00", true, false, false, false, 1, 0, false},
        {3, false, "Чтение успешно 0:12:00", true, true, true, true, 0, 0, false},
        {3, true, "Чтение успешно 0:12:00", true, true, true, false, 3, 0, false},
        {4, false, "Конфигурация записана", false, false, false, true, 0, 0, false},
        {5, false, "Коррекция времени произведена", false, false, false, true, 1, 1000, false},
        {6, false, "S/N записан", false, false, false, true, 1, 1000, true},
    };
    for (const Case& c : cases) {
        CompletedCommand done;
        done.command = c.command;
        done.cycleMode = c.cycle;
        done.durationDays = 12.0 / 86400.0;  // twelve seconds
        const CommandOutcome o = CompleteCommand(done);
        EXPECT_TRUE(o.success);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_EQ(o.caption, c.caption) << c.command;
        EXPECT_EQ(o.takeOverRead, c.takeOver) << c.command;
        EXPECT_EQ(o.archiveRead, c.archive) << c.command;
        EXPECT_EQ(o.saveDataFile, c.save) << c.command;
        EXPECT_EQ(o.restorePanels, c.restore) << c.command;
        EXPECT_EQ(o.followUp, c.followUp) << c.command;
        EXPECT_EQ(o.pauseMs, c.pauseMs) << c.command;
        EXPECT_EQ(o.advanceSerial, c.serial) << c.command;
    }
    CompletedCommand emu;
    emu.command = 7;
    EXPECT_TRUE(CompleteCommand(emu).emulatorStep);
}

// An archive read the user stopped: shown, but neither a success nor saved, and never repeated.
TEST(CommandCycle, AStoppedArchiveReadIsNoSuccess) {
    for (const bool cycle : {false, true}) {
        CompletedCommand d;
        d.command = 3;
        d.cycleMode = cycle;
        d.archiveStopped = true;
        d.blocksRead = 1;
        d.blocksPlanned = 4;
        const CommandOutcome o = CompleteCommand(d);
        EXPECT_FALSE(o.success);
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.caption,
                  "Чтение архива остановлено: прочитано 1 из 4 блоков, файл данных не сохранён");
        EXPECT_TRUE(o.takeOverRead);
        EXPECT_TRUE(o.archiveRead);
        EXPECT_FALSE(o.saveDataFile);
        EXPECT_TRUE(o.restorePanels);
        EXPECT_EQ(o.followUp, 0);
    }
}

TEST(CommandCycle, Failures) {
    CompletedCommand d;
    d.status = 2;
    d.command = 1;
    d.errorText = "Не сошлась контрольная сумма";
    d.now = "10.12.2026 10:15:42";
    CommandOutcome o = CompleteCommand(d);
    EXPECT_FALSE(o.success);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.caption, "Ошибка: 10.12.2026 10:15:42 Не сошлась контрольная сумма");
    EXPECT_TRUE(o.restorePanels);
    EXPECT_FALSE(o.takeOverRead);

    // Cyclic reading goes on after a transmission error ...
    d.cycleMode = true;
    o = CompleteCommand(d);
    EXPECT_EQ(o.followUp, 1);
    EXPECT_FALSE(o.restorePanels);
    // ... but not after a port that cannot be opened, nor after a cancellation.
    d.status = -2;
    o = CompleteCommand(d);
    EXPECT_EQ(o.followUp, 0);
    EXPECT_TRUE(o.restorePanels);
    d.status = -1;
    o = CompleteCommand(d);
    EXPECT_EQ(o.followUp, 0);
    EXPECT_TRUE(o.keepCaption);
    EXPECT_EQ(o.exitCode, 1);
    // A failed archive read in cyclic mode does not repeat.
    d.status = 1;
    d.command = 3;
    EXPECT_EQ(CompleteCommand(d).followUp, 0);
}

}  // namespace
}  // namespace vir05
