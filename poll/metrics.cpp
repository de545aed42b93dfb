#include "poll/metrics.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vir05::poll {

namespace {

std::string Number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

void Header(std::string& out, const char* name, const char* help, const char* type) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

}  // namespace

std::string MetricLabel(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void Metrics::Reading(const std::string& controller, bool ok, double endUnix, double seconds) {
    std::lock_guard lock(mutex_);
    Controller& c = controllers_[controller];
    ++c.readings;
    c.lastSeconds = seconds;
    if (ok) {
        c.lastSuccess = endUnix;
    } else {
        ++c.failures;
    }
}

void Metrics::Round(double endUnix, double seconds) {
    std::lock_guard lock(mutex_);
    roundEnd_ = endUnix;
    roundSeconds_ = seconds;
    ++rounds_;
}

std::string Metrics::Text() const {
    std::lock_guard lock(mutex_);
    const std::string host = "host=\"" + MetricLabel(host_) + "\"";
    std::string out;
    auto perController = [&](const char* name, const char* help, const char* type, auto value) {
        Header(out, name, help, type);
        for (const auto& [controller, c] : controllers_) {
            double v = 0;
            if (!value(c, v)) continue;
            out += name;
            out += "{controller=\"" + MetricLabel(controller) + "\"," + host + "} ";
            out += Number(v);
            out += '\n';
        }
    };
    perController("vir05_controller_last_success_timestamp_seconds",
                  "End of the controller's last good reading by this poller, seconds since the "
                  "epoch.",
                  "gauge", [](const Controller& c, double& v) {
                      v = c.lastSuccess;
                      return c.lastSuccess > 0;
                  });
    perController("vir05_controller_last_duration_seconds",
                  "Duration of the controller's last reading by this poller.", "gauge",
                  [](const Controller& c, double& v) {
                      v = c.lastSeconds;
                      return true;
                  });
    perController("vir05_controller_failures_total",
                  "Failed readings of the controller by this poller since it started.", "counter",
                  [](const Controller& c, double& v) {
                      v = static_cast<double>(c.failures);
                      return true;
                  });
    perController("vir05_controller_readings_total",
                  "Readings of the controller by this poller since it started.", "counter",
                  [](const Controller& c, double& v) {
                      v = static_cast<double>(c.readings);
                      return true;
                  });
    Header(out, "vir05_poller_round_duration_seconds", "Duration of the poller's last round.",
           "gauge");
    out += "vir05_poller_round_duration_seconds{" + host + "} " + Number(roundSeconds_) + "\n";
    Header(out, "vir05_poller_round_end_timestamp_seconds",
           "End of the poller's last round, seconds since the epoch.", "gauge");
    out += "vir05_poller_round_end_timestamp_seconds{" + host + "} " + Number(roundEnd_) + "\n";
    Header(out, "vir05_poller_rounds_total", "Rounds of the poller since it started.", "counter");
    out += "vir05_poller_rounds_total{" + host + "} " + Number(static_cast<double>(rounds_)) + "\n";
    return out;
}

bool Metrics::Write(const std::string& path, std::string& error) const {
    const std::string text = Text();
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = tmp + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        error = tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace vir05::poll
