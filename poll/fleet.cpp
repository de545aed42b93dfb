#include "poll/fleet.h"

#include <toml++/toml.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace vir05::poll {

namespace {

namespace fs = std::filesystem;

// The first error found; parsing stops there.
struct FleetError {
    int line;
    std::string message;
};

int LineOf(const toml::node& node) {
    return static_cast<int>(node.source().begin.line);
}

std::string Quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

// Reads the keys of one table, each once, and complains about the ones nobody asked for.
class Keys {
  public:
    Keys(const toml::table& table, std::string where) : table_(table), where_(std::move(where)) {}

    const toml::node* Get(std::string_view key) {
        seen_.insert(std::string(key));
        return table_.get(key);
    }

    std::string Text(std::string_view key, std::string fallback, bool required = false) {
        const toml::node* n = Get(key);
        if (!n) {
            if (required) Throw(LineOf(table_), "key " + Quoted(key) + " is missing");
            return fallback;
        }
        const auto v = n->value<std::string>();
        if (!n->is_string() || !v) Throw(LineOf(*n), "key " + Quoted(key) + " must be a text");
        return *v;
    }

    std::int64_t Integer(std::string_view key, std::int64_t fallback, std::int64_t lo,
                         std::int64_t hi, bool required = false) {
        const toml::node* n = Get(key);
        if (!n) {
            if (required) Throw(LineOf(table_), "key " + Quoted(key) + " is missing");
            return fallback;
        }
        if (!n->is_integer()) Throw(LineOf(*n), "key " + Quoted(key) + " must be a whole number");
        const std::int64_t v = *n->value<std::int64_t>();
        if (v < lo || v > hi)
            Throw(LineOf(*n), "key " + Quoted(key) + " must lie in " + std::to_string(lo) + ".." +
                                  std::to_string(hi) + ", not " + std::to_string(v));
        return v;
    }

    // Every key the reader did not ask for is an error: a misspelt key must not pass silently.
    void RejectUnknown() {
        for (auto&& [key, node] : table_) {
            if (seen_.count(std::string(key.str())) == 0)
                Throw(static_cast<int>(key.source().begin.line) > 0
                          ? static_cast<int>(key.source().begin.line)
                          : LineOf(node),
                      "key " + Quoted(key.str()) + " is unknown");
        }
    }

    [[noreturn]] void Throw(int line, const std::string& message) const {
        throw FleetError{line, where_ + ": " + message};
    }

  private:
    const toml::table& table_;
    std::string where_;
    std::set<std::string> seen_;
};

const toml::array* ArrayOfTables(const toml::table& root, std::string_view key) {
    const toml::node* n = root.get(key);
    if (!n) return nullptr;
    const toml::array* a = n->as_array();
    if (!a || !a->is_array_of_tables())
        throw FleetError{LineOf(*n),
                         Quoted(key) + " must be written as [[" + std::string(key) + "]] tables"};
    return a;
}

std::string Resolve(const fs::path& base, const std::string& p) {
    const fs::path path(p);
    if (path.is_absolute()) return path.lexically_normal().string();
    return (base / path).lexically_normal().string();
}

Fleet Build(const toml::table& root, const std::string& path) {
    Fleet fleet;
    fleet.path = path;
    const fs::path base = fs::path(path).parent_path();

    for (auto&& [key, node] : root) {
        const std::string_view k = key.str();
        if (k != "poll" && k != "line" && k != "controller" && k != "mqtt")
            throw FleetError{static_cast<int>(key.source().begin.line),
                             "table " + Quoted(k) + " is unknown (poll, line, controller, mqtt)"};
    }

    std::string database = "vir05.sqlite";
    std::string settings = "vir05.ini";
    if (const toml::node* n = root.get("poll")) {
        const toml::table* t = n->as_table();
        if (!t) throw FleetError{LineOf(*n), "'poll' must be a [poll] table"};
        Keys keys(*t, "[poll]");
        database = keys.Text("database", database);
        if (database.empty()) keys.Throw(LineOf(*t->get("database")), "key 'database' is empty");
        fleet.output = keys.Text("output", "");
        settings = keys.Text("settings", settings);
        fleet.tcpParallel = static_cast<int>(keys.Integer("tcp_parallel", 16, 1, 1024));
        const std::string archive = keys.Text("archive", "new");
        const auto mode = ParseArchiveMode(archive);
        if (!mode)
            keys.Throw(LineOf(*t->get("archive")),
                       "key 'archive' must be new, all or none, not " + Quoted(archive));
        fleet.archive = *mode;
        fleet.leaseSeconds = static_cast<int>(keys.Integer("lease_seconds", 60, 1, 86400));
        keys.RejectUnknown();
    }
    fleet.database = IsDatabaseUrl(database) ? database : Resolve(base, database);
    if (const toml::node* n = root.get("mqtt")) {
        const toml::table* t = n->as_table();
        if (!t) throw FleetError{LineOf(*n), "'mqtt' must be an [mqtt] table"};
        Keys keys(*t, "[mqtt]");
        fleet.mqtt.sourceLine = LineOf(*t);
        fleet.mqtt.broker = keys.Text("broker", "", true);
        fleet.mqtt.user = keys.Text("user", "");
        const std::string passwordFile = keys.Text("password_file", "");
        if (!passwordFile.empty()) fleet.mqtt.passwordFile = Resolve(base, passwordFile);
        fleet.mqtt.prefix = keys.Text("prefix", fleet.mqtt.prefix);
        fleet.mqtt.discoveryPrefix = keys.Text("discovery_prefix", fleet.mqtt.discoveryPrefix);
        for (const char* k : {"prefix", "discovery_prefix"}) {
            const std::string v =
                k == std::string_view("prefix") ? fleet.mqtt.prefix : fleet.mqtt.discoveryPrefix;
            if (v.empty() || v.find_first_of("+#") != std::string::npos || v.front() == '/' ||
                v.back() == '/')
                keys.Throw(t->get(k) ? LineOf(*t->get(k)) : LineOf(*t),
                           "key " + Quoted(k) + " must be a topic without + # or an outer /");
        }
        keys.RejectUnknown();
    }
    fleet.settings = settings.empty() ? std::string() : Resolve(base, settings);
    if (!fleet.output.empty()) fleet.output = Resolve(base, fleet.output);

    std::map<std::string, int> portsSeen;
    if (const toml::array* lines = ArrayOfTables(root, "line")) {
        for (const toml::node& n : *lines) {
            const toml::table& t = *n.as_table();
            const int at = LineOf(t);
            Keys keys(t, "[[line]]");
            FleetLine line;
            line.sourceLine = at;
            line.name = keys.Text("name", "", true);
            Keys named(t, "[[line]] " + Quoted(line.name));
            if (!NameIsUsable(line.name)) named.Throw(at, "key 'name' is not a usable name");
            line.port = keys.Text("port", "", true);
            if (line.port.empty()) named.Throw(at, "key 'port' is empty");
            line.baud = static_cast<std::uint32_t>(keys.Integer("baud", 9600, 50, 4000000));
            line.host = keys.Text("host", "");
            keys.RejectUnknown();
            if (fleet.Line(line.name)) named.Throw(at, "the name is given to two lines");
            // One owner per line: two workers on one device would garble each other's frames.
            // (Lines of different hosts are different devices, whatever their names.)
            if (auto [it, fresh] = portsSeen.emplace(line.host + '\n' + line.port, at); !fresh)
                named.Throw(at, "port " + Quoted(line.port) + " is already the line on line " +
                                    std::to_string(it->second));
            fleet.lines.push_back(std::move(line));
        }
    }

    std::set<std::string> names;
    std::map<std::string, std::string> endpoints;  // line or host:port, address, phone -> name
    if (const toml::array* controllers = ArrayOfTables(root, "controller")) {
        for (const toml::node& n : *controllers) {
            const toml::table& t = *n.as_table();
            const int at = LineOf(t);
            Keys keys(t, "[[controller]]");
            FleetController c;
            c.sourceLine = at;
            c.name = keys.Text("name", "", true);
            Keys named(t, "[[controller]] " + Quoted(c.name));
            if (!NameIsUsable(c.name)) named.Throw(at, "key 'name' is not a usable folder name");
            c.line = keys.Text("line", "");
            c.host = keys.Text("host", "");
            c.address = static_cast<int>(keys.Integer("address", 0, 0, 255, true));
            c.phone = keys.Text("phone", "");
            c.pin = keys.Text("pin", "");
            const toml::node* port = keys.Get("port");
            keys.RejectUnknown();
            if (c.line.empty() == c.host.empty())
                named.Throw(at, "give either key 'line' or key 'host'");
            if (!c.line.empty()) {
                if (!fleet.Line(c.line))
                    named.Throw(LineOf(*t.get("line")),
                                "key 'line': no [[line]] is named " + Quoted(c.line));
                if (port) named.Throw(LineOf(*port), "key 'port' belongs to a TCP controller");
            } else {
                if (!c.phone.empty())
                    named.Throw(LineOf(*t.get("phone")), "key 'phone' needs a serial line");
                if (port)
                    c.tcpPort = static_cast<std::uint16_t>(named.Integer("port", 0, 1, 65535));
            }
            for (char ch : c.phone)
                if (ch < ' ' || ch == 0x7F)
                    named.Throw(LineOf(*t.get("phone")), "key 'phone' holds a control character");
            if (!c.pin.empty() &&
                (c.pin.size() != 4 || c.pin.find_first_not_of("0123456789") != std::string::npos))
                named.Throw(LineOf(*t.get("pin")), "key 'pin' must be four digits");
            if (!names.insert(c.name).second)
                named.Throw(at, "the name is given to two controllers");
            // Two controllers that answer at the same address on the same wire would answer
            // together; the fleet cannot mean that.
            const std::string where =
                (c.OverTcp() ? "tcp " + c.host + ":" + std::to_string(c.tcpPort)
                             : "line " + c.line) +
                " address " + std::to_string(c.address) + " phone " + c.phone;
            if (auto [it, fresh] = endpoints.emplace(where, c.name); !fresh)
                named.Throw(at, "it answers on the same line and address as " + Quoted(it->second));
            fleet.controllers.push_back(std::move(c));
        }
    }
    return fleet;
}

// TOML allows characters beyond ASCII only in texts and comments. The distribution's TOML
// library reaches undefined behaviour on some of them elsewhere (a Cyrillic bare key such as
// `имя = 1` among them). So the text is first parsed with every such byte replaced by '@', which
// is good in texts and comments and an error anywhere else; only a text that passes goes to the
// parser as it stands. Returns the error, or nullopt.
std::optional<std::string> AsciiPrecheck(std::string_view text, const std::string& path) {
    std::string masked(text);
    bool any = false;
    for (char& ch : masked)
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ch = '@';
            any = true;
        }
    if (!any) return std::nullopt;
    try {
        (void)toml::parse(masked, path);
        return std::nullopt;
    } catch (const toml::parse_error& e) {
        const auto line = e.source().begin.line;
        const auto column = e.source().begin.column;
        // The byte the parser stopped at, in the text as it was.
        std::size_t at = 0;
        for (std::size_t l = 1; l < line && at < text.size(); ++at)
            if (text[at] == '\n') ++l;
        at += column > 0 ? column - 1 : 0;
        const bool nonAscii = at < text.size() && masked[at] == '@' && text[at] != '@';
        return path + ":" + std::to_string(line) + ": " +
               (nonAscii ? std::string("a character outside quotes that is not ASCII (keys and "
                                       "values other than texts are ASCII; put texts in quotes)")
                         : std::string(e.description()));
    }
}

}  // namespace

std::optional<ArchiveMode> ParseArchiveMode(std::string_view text) {
    if (text == "new") return ArchiveMode::New;
    if (text == "all") return ArchiveMode::All;
    if (text == "none") return ArchiveMode::None;
    return std::nullopt;
}

const char* ArchiveModeName(ArchiveMode mode) {
    switch (mode) {
        case ArchiveMode::New:
            return "new";
        case ArchiveMode::All:
            return "all";
        case ArchiveMode::None:
            return "none";
    }
    return "new";
}

bool IsDatabaseUrl(std::string_view database) {
    return database.substr(0, 13) == "postgresql://" || database.substr(0, 11) == "postgres://";
}

const FleetLine* Fleet::Line(std::string_view name) const {
    for (const FleetLine& l : lines)
        if (l.name == name) return &l;
    return nullptr;
}

bool NameIsUsable(std::string_view name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
    for (char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7F || ch == '/' || ch == '\\') return false;
    }
    return true;
}

std::optional<Fleet> ParseFleet(std::string_view text, const std::string& path,
                                std::string& error) {
    try {
        if (auto e = AsciiPrecheck(text, path)) {
            error = *e;
            return std::nullopt;
        }
        const toml::table root = toml::parse(text, path);
        return Build(root, path);
    } catch (const toml::parse_error& e) {
        error = path + ":" + std::to_string(e.source().begin.line) + ": " +
                std::string(e.description());
    } catch (const FleetError& e) {
        error = path + ":" + std::to_string(e.line) + ": " + e.message;
    }
    return std::nullopt;
}

std::optional<Fleet> LoadFleet(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    return ParseFleet(text.str(), path, error);
}

}  // namespace vir05::poll
