// The poller's figures in the Prometheus text format, for the node exporter's textfile collector:
// per controller the time of its last good reading, the duration of its last reading and its
// failures; per poller the duration and end of its last round. Every series carries the poller's
// host, so that the files of several pollers on one machine never repeat a series.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vir05::poll {

class Metrics {
  public:
    explicit Metrics(std::string host) : host_(std::move(host)) {}

    // One reading of `controller` ended at `endUnix` (seconds since the epoch) after
    // `seconds`. Safe from several workers at once.
    void Reading(const std::string& controller, bool ok, double endUnix, double seconds);
    // One round ended at `endUnix` after `seconds`.
    void Round(double endUnix, double seconds);

    std::string Text() const;
    // Writes the text to a temporary file beside `path` and renames it over `path`, so that the
    // collector never reads half a file. False with a message in `error` on failure.
    bool Write(const std::string& path, std::string& error) const;

  private:
    struct Controller {
        double lastSuccess = 0;  // 0: never read successfully by this poller
        double lastSeconds = 0;
        std::uint64_t failures = 0;
        std::uint64_t readings = 0;
    };
    std::string host_;
    mutable std::mutex mutex_;
    std::map<std::string, Controller> controllers_;
    double roundEnd_ = 0;
    double roundSeconds_ = 0;
    std::uint64_t rounds_ = 0;
};

// A label value as the text format writes it: backslash, double quote and line feed escaped.
std::string MetricLabel(const std::string& value);

}  // namespace vir05::poll
