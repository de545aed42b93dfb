// Several vir05poll processes on one fleet and one PostgreSQL database: each controller read
// once per round, the bus polled by the host that has it, a poller killed with kill -9 in the
// middle of a round whose controllers the others finish, and the records stored exactly as a
// single poller stores them. Then one poller publishing to the MQTT broker, the broker
// restarted under it, and its last will when it dies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "background.h"
#include "mqtt_client.h"
#include "services.h"

namespace vir05::poll {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Background;
using test::Eventually;
using test::PgRows;
using test::Query;
using test::ScratchDatabase;

fs::path TempDir(const std::string& name) {
    const fs::path d = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts the simulated fleet and waits for its fleet file.
std::unique_ptr<Background> StartFleet(const fs::path& dir, const std::vector<std::string>& args) {
    std::vector<std::string> all{"fleet"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"-o", (dir / "sim.toml").string()});
    auto sim =
        std::make_unique<Background>(VIR05SIM_PATH, all, dir.string(), (dir / "sim.log").string());
    EXPECT_TRUE(Eventually([&] { return fs::exists(dir / "sim.toml"); }, 120s)) << sim->Log();
    return sim;
}

// The simulator's fleet file with our [poll] settings and the bus given to host `busHost`.
std::string FleetFile(const fs::path& dir, const std::string& poll, const std::string& busHost,
                      const std::string& extra = "") {
    std::string text = ReadFile(dir / "sim.toml");
    text = std::regex_replace(text, std::regex("database = \"fleet.sqlite\"\n"), poll);
    text = std::regex_replace(text, std::regex("(\\[\\[line\\]\\]\n)"),
                              "$1host = \"" + busHost + "\"\n");
    return text + extra;
}

void Write(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::trunc);
    out << text;
}

// The archive records and events of a database, as sorted text.
std::vector<std::string> Stored(const std::string& url) {
    auto rows = PgRows(url,
                       "SELECT serial, circuit, time, t11, t2, tk, tn, real, base, klap, errors"
                       " FROM archive_record ORDER BY 1, 2, 3");
    for (auto& e : PgRows(url,
                          "SELECT serial, time, param, circuit, name, new_value, old_value FROM"
                          " event ORDER BY 1, 2, 3, 4, 6, 7"))
        rows.push_back("event " + e);
    return rows;
}

// Every reading of a slot is tied to its controller's lease, and no reading exists outside a
// lease: a controller read twice, or a reading stored twice, shows here.
void ExpectEachReadOnce(const std::string& url, std::int64_t slot, int controllers) {
    const std::string s = std::to_string(slot);
    EXPECT_EQ(Query(url, "SELECT count(*) FROM lease WHERE slot = " + s + " AND done"),
              std::to_string(controllers));
    EXPECT_EQ(Query(url,
                    "SELECT count(DISTINCT l.reading) FROM lease l JOIN reading r"
                    " ON r.id = l.reading AND r.controller = l.controller AND r.ok = 1"
                    " WHERE l.slot = " +
                        s),
              std::to_string(controllers));
    EXPECT_EQ(Query(url,
                    "SELECT count(*) FROM reading r WHERE NOT EXISTS"
                    " (SELECT 1 FROM lease l WHERE l.reading = r.id)"),
              "0");
}

TEST(Pollers, ThreePollersShareAFleetAndSurviveOneKilledMidRound) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    const fs::path dir = TempDir("vir05-pollers");
    constexpr int kTcp = 297, kBus = 3, kAll = kTcp + kBus;
    auto sim = StartFleet(dir, {"--tcp", std::to_string(kTcp), "--bus", std::to_string(kBus),
                                "--records", "100", "--seed", "17"});
    ScratchDatabase db;
    // Production timing; the lease is short so that the test need not wait a minute for it.
    Write(dir / "fleet.toml",
          FleetFile(dir, "database = \"" + db.Url() + "\"\nlease_seconds = 4\ntcp_parallel = 8\n",
                    "p1"));
    std::vector<std::unique_ptr<Background>> pollers;
    for (const char* host : {"p1", "p2", "p3"})
        pollers.push_back(std::make_unique<Background>(
            VIR05POLL_PATH,
            std::vector<std::string>{"fleet.toml", "--every", "30s", "--host", host, "--metrics",
                                     std::string(host) + ".prom"},
            dir.string(), (dir / (std::string(host) + ".log")).string()));
    const std::string url = db.Url();

    // A whole round: every controller of one slot done.
    std::string first;
    ASSERT_TRUE(Eventually(
        [&] {
            if (Query(url, "SELECT to_regclass('lease') IS NOT NULL") != "t") return false;
            first = Query(url, "SELECT min(slot) FROM lease");
            return first != "NULL" && !first.empty() &&
                   Query(url, "SELECT count(*) FROM lease WHERE done AND slot = " + first) ==
                       std::to_string(kAll);
        },
        300s))
        << pollers[0]->Log() << pollers[1]->Log();
    const std::int64_t s1 = std::stoll(first);
    ExpectEachReadOnce(url, s1, kAll);
    // The bus belongs to p1; the TCP controllers went to all three.
    EXPECT_EQ(Query(url, "SELECT count(*) FROM lease l WHERE slot = " + first +
                             " AND holder LIKE 'p1/%' AND controller LIKE 'ИТП-%'"),
              std::to_string(kBus));
    for (const char* host : {"p1", "p2", "p3"})
        EXPECT_NE(Query(url, "SELECT count(*) FROM lease WHERE slot = " + first +
                                 " AND holder LIKE '" + host + "/%'"),
                  "0")
            << host;

    // The next round: kill p2 while it holds controllers.
    std::string second;
    ASSERT_TRUE(Eventually(
        [&] {
            second = Query(url, "SELECT min(slot) FROM lease WHERE slot > " + first +
                                    " AND holder LIKE 'p2/%' AND NOT done");
            return second != "NULL" && !second.empty();
        },
        300s));
    pollers[1]->Kill();
    const auto orphans = PgRows(url, "SELECT controller FROM lease WHERE slot = " + second +
                                         " AND holder LIKE 'p2/%' AND NOT done");
    const auto killedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(Eventually(
        [&] {
            return Query(url, "SELECT count(*) FROM lease WHERE done AND slot = " + second) ==
                   std::to_string(kAll);
        },
        300s))
        << pollers[0]->Log() << pollers[2]->Log();
    std::cout << "round completed "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count()
              << " s after kill -9 (lease 4 s), " << orphans.size() << " controllers taken over\n";
    ExpectEachReadOnce(url, std::stoll(second), kAll);
    // What the dead poller held was read by the others.
    for (const std::string& c : orphans)
        EXPECT_EQ(Query(url, "SELECT holder NOT LIKE 'p2/%' FROM lease WHERE slot = " + second +
                                 " AND controller = '" + c + "'"),
                  "t")
            << c;

    for (auto& p : pollers)
        p->Stop();
    // Each surviving poller wrote its metrics.
    for (const char* host : {"p1", "p3"})
        EXPECT_NE(ReadFile(dir / (std::string(host) + ".prom"))
                      .find("vir05_poller_round_duration_seconds{host=\"" + std::string(host)),
                  std::string::npos)
            << host;

    // One poller alone, the whole archive of every controller, into a database of its own:
    // the records and events are the same as the shared ones.
    ScratchDatabase reference;
    Write(dir / "reference.toml",
          FleetFile(dir, "database = \"" + reference.Url() + "\"\ntcp_parallel = 32\n", "p1"));
    Background single(VIR05POLL_PATH, {"reference.toml", "--host", "p1", "--archive", "all"},
                      dir.string(), (dir / "reference.log").string());
    EXPECT_EQ(single.Wait(600s), 0) << single.Log();
    const auto shared = Stored(url);
    const auto alone = Stored(reference.Url());
    EXPECT_GT(alone.size(), static_cast<std::size_t>(kAll));
    EXPECT_TRUE(shared == alone) << shared.size() << " rows shared, " << alone.size() << " alone";
    sim->Stop();
    fs::remove_all(dir);
}

// One poller publishing: state, availability and discovery of good controllers, "offline" for
// one that does not answer, everything back after a broker restart, and the last will when the
// poller is killed.
TEST(Pollers, APollerPublishesReadingsAndComesBackAfterABrokerRestart) {
    VIR05_NEED_SERVICE("VIR05_PG_URL");
    VIR05_NEED_SERVICE("VIR05_MQTT_PORT");
    VIR05_NEED_SERVICE("VIR05_MQTT_RESTART");
    const fs::path dir = TempDir("vir05-publish");
    auto sim = StartFleet(dir, {"--tcp", "3", "--records", "20", "--seed", "5"});
    ScratchDatabase db;
    const std::string port = test::Env("VIR05_MQTT_PORT");
    // Topics of this run only: the broker keeps retained messages of earlier runs.
    const std::string prefix = "itest" + std::to_string(getpid());
    const std::string haPrefix = prefix + "-ha";
    // A fourth controller behind a port where nothing listens.
    Write(dir / "fleet.toml",
          FleetFile(dir, "database = \"" + db.Url() + "\"\nlease_seconds = 4\n", "m1",
                    "\n[[controller]]\nname = \"dead\"\nhost = \"127.0.0.1\"\nport = 1\n"
                    "address = 1\n\n[mqtt]\nbroker = \"mqtt://127.0.0.1:" +
                        port + "\"\nprefix = \"" + prefix + "\"\ndiscovery_prefix = \"" + haPrefix +
                        "\"\n"));
    test::Subscriber sub(std::stoi(port), prefix + "/#");
    test::Subscriber ha(std::stoi(port), haPrefix + "/#");
    Background poller(VIR05POLL_PATH, {"fleet.toml", "--every", "5s", "--host", "m1"}, dir.string(),
                      (dir / "poller.log").string());

    // Three states, the dead controller's availability, the poller's own, and the discovery
    // messages: nine per circuit of each controller that was read.
    auto published = [&](test::Subscriber& s, test::Subscriber& h) {
        const bool states = s.WaitFor(
            [&](const auto& m) {
                int n = 0;
                for (const auto& [topic, payload] : m)
                    n += topic.size() > 6 && topic.substr(topic.size() - 6) == "/state";
                return n == 3 && m.count(prefix + "/dead/availability") &&
                       m.count(prefix + "/poller/m1/availability");
            },
            180s);
        const std::size_t circuits =
            std::stoul(Query(db.Url(), "SELECT coalesce(sum(circuits), 0) FROM controller"));
        return states && circuits >= 3 &&
               h.WaitFor([&](const auto& m) { return m.size() == 9 * circuits; }, 180s);
    };
    ASSERT_TRUE(published(sub, ha)) << poller.Log();
    EXPECT_EQ(sub.Last(prefix + "/poller/m1/availability"), "online");
    EXPECT_EQ(sub.Last(prefix + "/dead/availability"), "offline");
    const auto serials = PgRows(db.Url(),
                                "SELECT name, serial, circuits FROM controller WHERE serial IS"
                                " NOT NULL ORDER BY name");
    ASSERT_EQ(serials.size(), 3u);
    for (const std::string& row : serials) {
        const std::string name = row.substr(0, row.find('|'));
        const std::string serial =
            row.substr(row.find('|') + 1, row.rfind('|') - row.find('|') - 1);
        const std::string circuits = row.substr(row.rfind('|') + 1);
        SCOPED_TRACE(name);
        EXPECT_EQ(sub.Last(prefix + "/" + name + "/availability"), "online");
        const std::string state = sub.Last(prefix + "/" + name + "/state");
        // The state holds the values the database holds for the controller's last reading.
        EXPECT_EQ(Query(db.Url(), "SELECT ('" + state + "'::jsonb) ->> 'DevNumber'"), serial);
        const std::string config = ha.Last(haPrefix + "/sensor/vir05_" + serial + "/s1t1/config");
        EXPECT_EQ(Query(db.Url(), "SELECT ('" + config + "'::jsonb) ->> 'state_topic'"),
                  prefix + "/" + name + "/state");
        EXPECT_FALSE(
            ha.Last(haPrefix + "/binary_sensor/vir05_" + serial + "/s" + circuits + "err/config")
                .empty());
    }

    // The broker forgets everything; the poller comes back and publishes it again.
    ASSERT_EQ(std::system(test::Env("VIR05_MQTT_RESTART").c_str()), 0);
    test::Subscriber sub2(std::stoi(port), prefix + "/#");
    test::Subscriber ha2(std::stoi(port), haPrefix + "/#");
    EXPECT_TRUE(published(sub2, ha2)) << poller.Log();

    // kill -9: the broker publishes the poller's last will.
    poller.Kill();
    EXPECT_TRUE(sub2.WaitFor(prefix + "/poller/m1/availability", "offline", 180s));
    sim->Stop();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vir05::poll
