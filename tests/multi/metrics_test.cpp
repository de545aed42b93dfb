// The metrics file: the text format the node exporter's textfile collector reads, replaced
// whole after every round.
#include "poll/metrics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace vir05::poll {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Metrics, SeriesPerControllerAndPollerInTheTextFormat) {
    Metrics m("site \"1\"");
    m.Reading("ЦТП-1", true, 1000.5, 1.25);
    m.Reading("ЦТП-1", false, 2000, 12.5);  // a failure keeps the last success
    m.Reading("never", false, 3000, 0.5);   // never read well: no success series
    m.Reading("ЦТП-2", true, 4000, 0.75);
    m.Round(5000, 30.5);
    const std::string text = m.Text();
    const std::string h = "host=\"site \\\"1\\\"\"";
    for (const std::string& line : std::vector<std::string>{
             "vir05_controller_last_success_timestamp_seconds{controller=\"ЦТП-1\"," + h +
                 "} 1000.5",
             "vir05_controller_last_success_timestamp_seconds{controller=\"ЦТП-2\"," + h + "} 4000",
             "vir05_controller_last_duration_seconds{controller=\"ЦТП-1\"," + h + "} 12.5",
             "vir05_controller_failures_total{controller=\"ЦТП-1\"," + h + "} 1",
             "vir05_controller_failures_total{controller=\"ЦТП-2\"," + h + "} 0",
             "vir05_controller_failures_total{controller=\"never\"," + h + "} 1",
             "vir05_controller_readings_total{controller=\"ЦТП-1\"," + h + "} 2",
             "vir05_poller_round_duration_seconds{" + h + "} 30.5",
             "vir05_poller_round_end_timestamp_seconds{" + h + "} 5000",
             "vir05_poller_rounds_total{" + h + "} 1",
             std::string("# TYPE vir05_controller_failures_total counter"),
             std::string("# TYPE vir05_poller_round_duration_seconds gauge"),
         }) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(text.find("controller=\"never\"," + h + "} 3000"), std::string::npos) << text;
    // Every line is a comment or "name{labels} value"; the file ends with a line feed.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# ", 0) == 0) continue;
        EXPECT_NE(line.find("} "), std::string::npos) << line;
        EXPECT_EQ(line.rfind("vir05_", 0), 0u) << line;
    }
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(MetricLabel("a\\b\nc"), "a\\\\b\\nc");
}

TEST(Metrics, TheFileIsReplacedWholeAndAFailureIsReported) {
    const fs::path dir = fs::temp_directory_path() / ("vir05-metrics-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "vir05.prom";
    Metrics m("h");
    std::string error;
    ASSERT_TRUE(m.Write(file.string(), error)) << error;
    const std::string first = Read(file);
    m.Reading("A", true, 10, 1);
    m.Round(11, 2);
    ASSERT_TRUE(m.Write(file.string(), error)) << error;
    EXPECT_EQ(Read(file), m.Text());
    EXPECT_NE(Read(file), first);
    // Nothing but the file itself stays in the folder (no temporary file left behind).
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    EXPECT_FALSE(m.Write((dir / "missing" / "x.prom").string(), error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vir05::poll
