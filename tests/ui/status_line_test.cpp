// The status bar: the line actually used, what runs and for how long, and whether the values
// shown are new, old (the last read failed) or none at all.
#include <gtest/gtest.h>

#include <QLabel>
#include <QStatusBar>

#include "tests/ui/session_fixture.h"
#include "ui/main/status_line.h"

namespace vir05 {
namespace {

ConnectionValues Line(Transport t) {
    ConnectionValues v;
    v.transport = t;
    v.host = "127.0.0.1";
    v.tcpPort = 10001;
    v.netAddr = 1;
    v.port = "COM3";
    v.baudRate = 9600;
    if (t == Transport::Modem) {
        v.port = "COM1";
        v.phone = "5551234";
    }
    return v;
}

TEST(StatusLineText, TheLineAsUsed) {
    const struct {
        Transport transport;
        std::string device;
        const char* want;
    } cases[] = {
        {Transport::Tcp, "", "TCP 127.0.0.1:10001, адрес 1"},
        {Transport::Rs485, "/dev/ttyUSB0", "COM3 (/dev/ttyUSB0) 9600 бод, адрес 1"},
        {Transport::Rs485, "", "COM3 9600 бод, адрес 1"},
        {Transport::Modem, "/dev/ttyS0", "модем 5551234 через COM1 (/dev/ttyS0) 9600 бод, адрес 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LineText(Line(c.transport), c.device), QString(c.want)) << c.want;
    // A path given as the port is not repeated.
    ConnectionValues path = Line(Transport::Rs485);
    path.port = "/dev/ttyACM0";
    EXPECT_EQ(LineText(path, "/dev/ttyACM0"), QString("/dev/ttyACM0 9600 бод, адрес 1"));
}

TEST(StatusLineText, PlainSeconds) {
    const struct {
        double seconds;
        const char* want;
    } cases[] = {{1.08, "1,1 с"}, {0, "0,0 с"}, {125.44, "125,4 с"}, {-3, "0,0 с"}};
    for (const auto& c : cases)
        EXPECT_EQ(SecondsText(c.seconds), QString(c.want)) << c.seconds;
}

TEST(StatusLineText, NewOldAndNoValues) {
    StatusText s;
    // Nothing read or opened: it says so and where to begin.
    EXPECT_TRUE(s.Data().startsWith("Нет данных")) << s.Data().toStdString();
    EXPECT_TRUE(s.Data().contains("«Подключение»"));
    EXPECT_TRUE(s.Data().contains("«Прочитать"));
    EXPECT_FALSE(s.Stale());

    // A failed first read leaves "no values" as it was: nothing old to mark.
    s.Started(1);
    s.Finished(1, 2.5, false, "10:00:00", "Не пришло ни одного байта");
    EXPECT_TRUE(s.Data().startsWith("Нет данных"));
    EXPECT_FALSE(s.Stale());
    EXPECT_TRUE(s.Activity().contains("ошибка после 2,5 с")) << s.Activity().toStdString();
    EXPECT_TRUE(s.Activity().contains("Не пришло ни одного байта"));

    s.Started(1);
    s.Running(0.4);
    EXPECT_EQ(s.Activity(), QString("Чтение текущих значений… 0,4 с"));
    s.Finished(0, 1.08, true, "10:01:02");
    EXPECT_EQ(s.Activity(), QString("Чтение текущих значений: выполнено за 1,1 с"));
    EXPECT_EQ(s.Data(), QString("Значения прочитаны в 10:01:02"));
    EXPECT_FALSE(s.Stale());

    // The next read fails: the values still shown are marked as those of 10:01:02.
    s.Started(3);
    s.Finished(1, 12.6, false, "10:05:00", "Не пришло ни одного байта");
    EXPECT_TRUE(s.Stale());
    EXPECT_EQ(s.Data(), QString("Показаны значения последнего успешного чтения: прочитаны в "
                                "10:01:02"));

    // A successful read makes them new again; a failed write does not make them old.
    s.Started(1);
    s.Finished(0, 1, true, "10:06:00");
    s.Started(4);
    s.Finished(3, 1, false, "10:07:00", "Запись не подтверждена");
    EXPECT_FALSE(s.Stale());
    EXPECT_EQ(s.Data(), QString("Значения прочитаны в 10:06:00"));

    // An opened file is what is shown, until the next read.
    s.Opened("500001.vi5");
    EXPECT_EQ(s.Data(), QString("Показаны значения из файла 500001.vi5"));
    s.Started(1);
    s.Finished(-1, 0.2, false, "10:08:00");
    EXPECT_TRUE(s.Stale());
    EXPECT_TRUE(s.Data().endsWith("из файла 500001.vi5"));
    EXPECT_EQ(s.Activity(), QString("Чтение текущих значений: остановлено"));
}

using test::SessionTest;

// The bar of the window against the simulator: the TCP line, a read, then a failed read.
TEST_F(SessionTest, StatusBarTellsTheLineAndHowOldTheValuesAre) {
    StatusLine& status = session_->Status();
    ASSERT_NE(session_->Window().statusBar(), nullptr);
    EXPECT_TRUE(status.DataLabel()->text().startsWith("Нет данных"));
    session_->ReadTekClick(true);
    EXPECT_EQ(status.LineLabel()->text(), QString("TCP 127.0.0.1:%1, адрес 1").arg(tcp_->Port()));
    EXPECT_TRUE(status.ActivityLabel()->text().startsWith("Чтение текущих значений…"));
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(status.ActivityLabel()->text().startsWith("Чтение текущих значений: выполнено за "))
        << status.ActivityLabel()->text().toStdString();
    EXPECT_TRUE(status.DataLabel()->text().startsWith("Значения прочитаны в "));
    EXPECT_FALSE(status.Text().Stale());

    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    faults_.Set(silence);
    session_->ReadTekClick(true);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(status.Text().Stale());
    EXPECT_TRUE(status.DataLabel()->text().startsWith("Показаны значения последнего успешного"));
    EXPECT_FALSE(status.DataLabel()->styleSheet().isEmpty());  // it stands out
}

}  // namespace
}  // namespace vir05
