#include "sim/faults.h"

#include <charconv>
#include <cstdlib>

namespace vir05::sim {

namespace {
struct KindName {
    FaultKind kind;
    const char* name;
};
constexpr KindName kKinds[] = {
    {FaultKind::BadChecksum, "checksum"},
    {FaultKind::BadFirstByte, "header"},
    {FaultKind::Truncated, "truncate"},
    {FaultKind::Stall, "stall"},
    {FaultKind::Silence, "silence"},
    {FaultKind::Refuse, "refuse"},
    {FaultKind::ModemNoReset, "modem-noreset"},
    {FaultKind::ModemBusy, "modem-busy"},
    {FaultKind::ModemNoDial, "modem-nodial"},
    {FaultKind::ModemNoCarrier, "modem-nocarrier"},
    {FaultKind::Flood, "flood"},
};

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out) {
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end && out >= lo && out <= hi;
}
}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.name;
    return "none";
}

bool IsModemFault(FaultKind kind) {
    return kind == FaultKind::ModemNoReset || kind == FaultKind::ModemBusy ||
           kind == FaultKind::ModemNoDial || kind == FaultKind::ModemNoCarrier;
}

std::optional<FaultRule> ParseFaultRule(const std::string& text, std::string& error) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t colon = text.find(':', pos);
        parts.push_back(text.substr(pos, colon == std::string::npos ? colon : colon - pos));
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    FaultRule rule;
    for (const KindName& k : kKinds)
        if (parts[0] == k.name) rule.kind = k.kind;
    if (rule.kind == FaultKind::None) {
        error = "unknown fault kind '" + parts[0] + "'";
        return std::nullopt;
    }
    bool every = false, random = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t eq = parts[i].find('=');
        const std::string key = parts[i].substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : parts[i].substr(eq + 1);
        long long n = 0;
        if (key == "every" && ParseInt(value, 1, 1000000, n)) {
            rule.every = static_cast<int>(n);
            every = true;
        } else if (key == "random") {
            char* end = nullptr;
            const double p = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(p > 0.0 && p <= 1.0)) {
                error = "random= needs a probability above 0 and at most 1";
                return std::nullopt;
            }
            rule.probability = p;
            random = true;
        } else if (key == "seed" && ParseInt(value, 0, 0xFFFFFFFFll, n)) {
            rule.seed = static_cast<std::uint32_t>(n);
        } else if (key == "next" && ParseInt(value, 1, 1000000, n)) {
            rule.limit = static_cast<int>(n);
        } else if (key == "ms" && ParseInt(value, 1, 600000, n)) {
            rule.stallMs = static_cast<int>(n);
        } else {
            error = "bad fault option '" + parts[i] + "'";
            return std::nullopt;
        }
    }
    if (every && random) {
        error = "every= and random= exclude each other";
        return std::nullopt;
    }
    return rule;
}

void FaultInjector::Set(const FaultRule& rule) {
    std::lock_guard lock(mutex_);
    Slot& slot = IsModemFault(rule.kind) ? modem_ : main_;
    slot.rule = rule;
    slot.occasions = 0;
    slot.rng = rule.seed;
}

void FaultInjector::ApplyToNext(FaultKind kind, int k, int stallMs) {
    FaultRule rule;
    rule.kind = kind;
    rule.limit = k;
    rule.stallMs = stallMs;
    Set(rule);
}

void FaultInjector::Clear() {
    std::lock_guard lock(mutex_);
    main_ = Slot{};
    modem_ = Slot{};
}

bool FaultInjector::Hit(Slot& slot) {
    if (slot.rule.kind == FaultKind::None || slot.rule.limit == 0) return false;
    ++slot.occasions;
    bool hit;
    if (slot.rule.probability > 0.0)
        hit = static_cast<double>(SplitMix(slot.rng) >> 11) / 9007199254740992.0 <
              slot.rule.probability;
    else
        hit = slot.occasions % static_cast<std::uint64_t>(slot.rule.every) == 0;
    if (hit && slot.rule.limit > 0 && --slot.rule.limit == 0) slot.rule.kind = FaultKind::None;
    return hit;
}

Delivery FaultInjector::Plan(std::vector<std::uint8_t> reply) {
    Delivery d;
    FaultKind kind = FaultKind::None;
    int stallMs = 0;
    {
        std::lock_guard lock(mutex_);
        const FaultKind ruleKind = main_.rule.kind;
        stallMs = main_.rule.stallMs;
        if (ruleKind != FaultKind::Refuse && Hit(main_)) kind = ruleKind;
    }
    d.bytes = std::move(reply);
    if (d.bytes.empty()) return d;
    switch (kind) {
        case FaultKind::BadChecksum:
            d.bytes.back() = static_cast<std::uint8_t>(d.bytes.back() ^ 0x5A);
            break;
        case FaultKind::BadFirstByte:
            d.bytes[0] = 0x55;
            break;
        case FaultKind::Truncated:
            d.bytes.resize(d.bytes.size() / 2);
            break;
        case FaultKind::Stall:
            d.pauseAt = d.bytes.size() / 2;
            d.pauseMs = stallMs;
            break;
        case FaultKind::Silence:
            d.bytes.clear();
            break;
        case FaultKind::Flood:
            d.bytes.clear();
            d.flood = true;
            break;
        default:
            break;
    }
    return d;
}

bool FaultInjector::RefuseConnection() {
    std::lock_guard lock(mutex_);
    return main_.rule.kind == FaultKind::Refuse && Hit(main_);
}

bool FaultInjector::RefusingAll() const {
    std::lock_guard lock(mutex_);
    return main_.rule.kind == FaultKind::Refuse && main_.rule.probability == 0.0 &&
           main_.rule.every == 1 && main_.rule.limit < 0;
}

bool FaultInjector::ModemFault(FaultKind kind) {
    std::lock_guard lock(mutex_);
    return modem_.rule.kind == kind && Hit(modem_);
}

}  // namespace vir05::sim
