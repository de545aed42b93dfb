// vir05poll as a scheduler runs it: exit codes, messages that name file, line and key, the JSON
// results, and a poller killed in the middle of a round.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "poll_harness.h"

namespace vir05::poll::test {
namespace {

struct Outcome {
    bool exited = false;
    int code = -1;
    std::string out, err;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

pid_t Start(const std::vector<std::string>& args, const std::string& cwd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(cwd.c_str()) != 0) _exit(127);
    const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(in, 0);
    std::vector<char*> argv{const_cast<char*>(VIR05POLL_PATH)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VIR05POLL_PATH, argv.data());
    _exit(127);
}

// Waits for the program; the limit only ends a hung run, it is no measure of speed.
Outcome Wait(pid_t pid, const std::string& cwd,
             std::chrono::seconds limit = std::chrono::seconds(300)) {
    Outcome r;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.exited = WIFEXITED(status);
    r.code = r.exited ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(cwd + "/stdout.txt");
    r.err = ReadAll(cwd + "/stderr.txt");
    return r;
}

Outcome RunPoll(const std::vector<std::string>& args, const std::string& cwd) {
    return Wait(Start(args, cwd), cwd);
}

struct UsageCase {
    const char* what;
    std::vector<std::string> args;
    const char* fleet;    // written as fleet.toml when not null
    const char* message;  // standard error holds it
};

TEST(Program, UnusableFleetFileDatabaseOrOptionEndsWithExitCode2BeforeAnyPoll) {
    const char* good =
        "[[controller]]\nname = \"a\"\nhost = \"127.0.0.1\"\nport = 1\naddress = 1\n";
    const std::vector<UsageCase> cases = {
        {"no fleet file", {}, nullptr, "the fleet file is missing"},
        {"unknown option", {"fleet.toml", "--fast"}, good, "unknown option '--fast'"},
        {"bad duration", {"fleet.toml", "--every", "1x"}, good, "--every: '1x' is not a duration"},
        {"bad archive mode",
         {"fleet.toml", "--archive", "some"},
         good,
         "--archive: 'some' is not new, all or none"},
        {"unknown name", {"fleet.toml", "--only", "b"}, good, "has no controller 'b'"},
        {"missing fleet file", {"nofleet.toml"}, nullptr, "nofleet.toml: cannot be read"},
        {"fleet error",
         {"fleet.toml"},
         "[[controller]]\nname = \"a\"\nhost = \"h\"\naddress = 300\n",
         "fleet.toml:4: [[controller]]: key 'address' must lie in 0..255, not 300"},
        {"database in a missing folder",
         {"fleet.toml"},
         "[poll]\ndatabase = \"no/such/dir/x.sqlite\"\n",
         "x.sqlite: cannot be opened"},
        {"database not a database",
         {"fleet.toml"},
         "[poll]\ndatabase = \"fleet.toml\"\n",
         "fleet.toml: file is not a database"},
        {"JSON file not writable",
         {"fleet.toml", "--json", "no/such/dir/r.json"},
         good,
         "no/such/dir/r.json: cannot be written"},
    };
    for (const UsageCase& c : cases) {
        TempDir dir;
        if (c.fleet) std::ofstream(dir / "fleet.toml") << c.fleet;
        const Outcome r = RunPoll(c.args, dir.Path());
        ASSERT_TRUE(r.exited) << c.what;
        EXPECT_EQ(r.code, 2) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
        // Nothing was polled: no reading was stored.
        if (fs::exists(dir / "vir05.sqlite")) {
            EXPECT_EQ(One(dir / "vir05.sqlite", "SELECT count(*) FROM reading"), "0") << c.what;
        }
    }
}

class ProgramFleet : public FleetFixture {};

TEST_F(ProgramFleet, ExitCodeAndJsonTellWhatWasRead) {
    StartFleet(SmallFleet(30));
    // PIN codes in the fleet file are for later writes: never printed, never stored.
    {
        std::ifstream in(fleetPath_);
        std::string text((std::istreambuf_iterator<char>(in)), {}), withPins;
        std::size_t at = 0, found;
        while ((found = text.find("address = ", at)) != std::string::npos) {
            withPins += text.substr(at, found - at) + "pin = \"8642\"\n";
            at = found;
            withPins += text.substr(at, 10);
            at += 10;
        }
        withPins += text.substr(at);
        std::ofstream(fleetPath_) << withPins;
    }
    Outcome ok = RunPoll({fleetPath_, "--json", dir_ / "r.json"}, dir_.Path());
    ASSERT_TRUE(ok.exited);
    EXPECT_EQ(ok.code, 0) << ok.err << ok.out;
    const std::string json = ReadAll(dir_ / "r.json");
    for (const auto& u : sim_->Units()) {
        EXPECT_NE(json.find("{\"name\": \"" + u.name + "\", \"serial\": " +
                            std::to_string(u.serial) + ", \"ok\": true, \"status\": 0"),
                  std::string::npos)
            << json;
        EXPECT_NE(ok.out.find(u.name), std::string::npos) << "the summary table lists it";
    }
    for (const char* key : {"\"seconds\": ", "\"archive_blocks\": 4",
                            "\"line_bytes\": ", "\"records_new\": 60", "\"events_new\": 300"})
        EXPECT_NE(json.find(key), std::string::npos) << key << "\n" << json;

    // One silent controller: exit code 1, and it is in the results with its status and text.
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::Silence;
    sim_->Units()[1].faults->Set(silence);
    Outcome failed = RunPoll({fleetPath_, "--json", "-", "--archive", "none"}, dir_.Path());
    ASSERT_TRUE(failed.exited);
    EXPECT_EQ(failed.code, 1) << failed.err;
    EXPECT_NE(failed.out.find("{\"name\": \"" + sim_->Units()[1].name +
                              "\", \"serial\": null, \"ok\": false, \"status\": 1, \"error\": "
                              "\"Не пришло ни одного байта\""),
              std::string::npos)
        << failed.out;
    for (const std::string& text : {ok.out, ok.err, json, failed.out, failed.err})
        EXPECT_EQ(text.find("8642"), std::string::npos) << text;
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM current_value WHERE value LIKE '%8642%'"), "0");
    EXPECT_EQ(One(Db(),
                  "SELECT count(*) FROM controller WHERE ifnull(last_error, '') LIKE"
                  " '%8642%'"),
              "0");
}

TEST_F(ProgramFleet, AKilledPollerLeavesADatabaseTheNextRoundCompletes) {
    sim::FleetOptions o;
    o.tcp = 2;
    o.bus = 4;  // the bus takes its controllers one after another: the round lasts a while
    o.archiveRecords = 1500;
    StartFleet(o);
    const pid_t pid = Start({fleetPath_}, dir_.Path());
    // Killed once the first readings are stored and others are under way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    bool killed = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (One(Db(), "SELECT count(*) FROM reading WHERE ok=1 AND controller LIKE 'ИТП-%'") ==
            "1") {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const Outcome dead = Wait(pid, dir_.Path());
    ASSERT_TRUE(killed) << "the first bus reading never came";
    EXPECT_FALSE(dead.exited);
    EXPECT_EQ(One(Db(), "PRAGMA integrity_check"), "ok");
    const std::string before = One(Db(), "SELECT count(*) FROM reading WHERE ok=1");
    EXPECT_LT(std::stoi(before), 6) << "killed in the middle of the round";

    const Outcome next = RunPoll({fleetPath_}, dir_.Path());
    ASSERT_TRUE(next.exited);
    EXPECT_EQ(next.code, 0) << next.err << next.out;
    EXPECT_EQ(One(Db(), "PRAGMA integrity_check"), "ok");
    for (auto& u : sim_->Units())
        EXPECT_TRUE(SameRecords(StoredRecords(Db(), u.serial), ExpectedRecords(u))) << u.name;
    // Every reading that was stored is whole: one row of current values at least per good one.
    EXPECT_EQ(One(Db(),
                  "SELECT count(*) FROM reading WHERE ok=1 AND id NOT IN"
                  " (SELECT reading FROM current_value)"),
              "0");
}

TEST_F(ProgramFleet, RoundsOnAScheduleEndCleanlyOnSigterm) {
    sim::FleetOptions o;
    o.tcp = 2;
    o.archiveRecords = 10;
    StartFleet(o);
    const pid_t pid = Start({fleetPath_, "--every", "1s", "--archive", "none"}, dir_.Path());
    // Three rounds at least; the limit only ends a hung run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline &&
           std::stoi(One(Db(), "SELECT count(*) FROM reading WHERE ok=1")) < 6)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGTERM);
    const Outcome r = Wait(pid, dir_.Path());
    ASSERT_TRUE(r.exited) << "SIGTERM ends the program";
    // Between rounds it ends with the last round's code; in a round it lets the readings in
    // progress finish and leaves the rest: then that round did not read everyone.
    const std::size_t last = r.out.rfind(" read, ");
    ASSERT_NE(last, std::string::npos) << r.out;
    const std::string lastSummary = r.out.substr(last, r.out.find('\n', last) - last);
    const bool cutRound = lastSummary.find("stopped before the end") != std::string::npos;
    EXPECT_EQ(r.code, cutRound ? 1 : 0) << r.err << r.out;
    EXPECT_EQ(One(Db(), "PRAGMA integrity_check"), "ok");
    // Each round reads each controller once: no round overlaps another, no reading is lost.
    const auto perController =
        Rows(Db(), "SELECT count(*), count(DISTINCT started) FROM reading GROUP BY controller");
    ASSERT_EQ(perController.size(), 2u);
    for (const std::string& row : perController) {
        const auto bar = row.find('|');
        EXPECT_GE(std::stoi(row.substr(0, bar)), 3) << row;
        EXPECT_EQ(row.substr(0, bar), row.substr(bar + 1)) << "two readings in one second";
    }
    EXPECT_EQ(One(Db(), "SELECT count(*) FROM reading WHERE ok=0"), "0");
    // A summary table per round on standard output.
    std::size_t tables = 0;
    for (std::size_t at = 0; (at = r.out.find(" read, ", at)) != std::string::npos; ++at)
        ++tables;
    EXPECT_GE(tables, 3u) << r.out;
}

}  // namespace
}  // namespace vir05::poll::test
