#include "poll/increment.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/archive_view.h"
#include "core/snapshot.h"
#include "core/text_output.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/records.h"
#include "model/vocab.h"

namespace vir05::poll {

namespace {

constexpr std::uint32_t kRingStart = arch::Periodic;
constexpr std::uint32_t kRingEnd = arch::Periodic + arch::PeriodicSize;
constexpr std::uint32_t kBlock = kArchiveBlockSize;
constexpr std::uint32_t kRingBlocks = kArchiveRingSize / kBlock;

struct Range {
    std::uint32_t from, to;  // [from, to)
};

bool OnSlotBoundary(std::uint32_t pos, int stride) {
    return pos >= kRingStart && pos < kRingEnd &&
           (pos - kRingStart) % static_cast<std::uint32_t>(stride) == 0;
}

std::string Stamp(int y, int mo, int d, int h, int mi, int s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return buf;
}

std::optional<double> Degrees(int tenths) {
    if (tenths <= kArchiveNoValue) return std::nullopt;
    return tenths / 10.0;
}

}  // namespace

int NormalisedCircuits(const std::uint8_t* image) {
    return image[addr::NumSystems] == 1 ? 1 : 2;
}

std::string ClockText(const std::uint8_t* image) {
    for (int a : {addr::ClockSec, addr::ClockMin, addr::ClockHour, addr::ClockDay, addr::ClockMonth,
                  addr::ClockYear})
        if (!IsBcd(image[a])) return {};
    const int y = 2000 + FromBcd(image[addr::ClockYear]);
    const int mo = FromBcd(image[addr::ClockMonth]), d = FromBcd(image[addr::ClockDay]);
    const int h = FromBcd(image[addr::ClockHour]), mi = FromBcd(image[addr::ClockMin]);
    const int s = FromBcd(image[addr::ClockSec]);
    if (!StampIsPlausible(y, mo, d, h, mi, s)) return {};
    return Stamp(y, mo, d, h, mi, s);
}

ArchiveBlocks WholeArchiveBlocks(std::uint32_t archPos) {
    // Aligned blocks cover every byte once; the one holding the write position goes first, so
    // the newest records cross the line before the older ones.
    ArchiveBlocks b;
    const std::uint32_t first =
        std::min<std::uint32_t>(archPos % kArchiveRingSize / kBlock, kRingBlocks - 1);
    for (std::uint32_t k = 0; k < kRingBlocks; ++k)
        b.start[k] = ((first + kRingBlocks - k) % kRingBlocks) * kBlock;
    b.count = static_cast<int>(kRingBlocks);
    return b;
}

bool Covers(const ArchiveBlocks& blocks, std::uint32_t offset) {
    for (int i = 0; i < blocks.count; ++i) {
        const std::uint32_t s = blocks.start[static_cast<std::size_t>(i)];
        if (offset >= s && offset < s + kBlock) return true;
    }
    return false;
}

BlockChoice ChooseBlocks(const std::uint8_t* image, const std::optional<StoredState>& state) {
    const std::uint32_t pos = U32(image, addr::ArchPos);
    BlockChoice whole;
    whole.blocks = WholeArchiveBlocks(pos);
    if (!state) return whole.reason = "first reading", whole;
    const int n = NormalisedCircuits(image);
    const int stride = ArchiveStride(n);
    if (state->serial != I32(image, addr::DevNumber))
        return whole.reason = "another serial number", whole;
    if (state->numSystems != n) return whole.reason = "another circuit count", whole;
    if (!OnSlotBoundary(pos, stride) || !OnSlotBoundary(state->archPos, stride))
        return whole.reason = "write position off the ring", whole;
    if (!state->anchorKey) return whole.reason = "no record to continue from", whole;
    const std::string clock = ClockText(image);
    if (clock.empty() || state->clock.empty() || clock < state->clock)
        return whole.reason = "clock jumped back", whole;

    // From the anchor (the stored newest slot) up to the new write position, wrapping.
    std::uint32_t anchor = state->archPos - static_cast<std::uint32_t>(stride);
    if (anchor < kRingStart) anchor += arch::PeriodicSize;
    std::vector<Range> need{{0, kRingStart}};  // the event log
    if (anchor < pos) {
        need.push_back({anchor, pos});
    } else {
        need.push_back({anchor, kRingEnd});
        need.push_back({kRingStart, pos});
    }
    std::sort(need.begin(), need.end(),
              [](const Range& a, const Range& b) { return a.from < b.from; });
    BlockChoice c;
    c.whole = false;
    std::uint32_t coveredTo = 0;
    for (const Range& r : need) {
        std::uint32_t x = std::max(r.from, coveredTo);
        while (x < r.to) {
            const std::uint32_t start = std::min<std::uint32_t>(x, kArchiveLastBlockStart);
            c.blocks.start[static_cast<std::size_t>(c.blocks.count++)] = start;
            coveredTo = start + kBlock;
            x = coveredTo;
        }
    }
    if (c.blocks.count >= 4) {
        // As many blocks as the whole archive: read it whole, aligned.
        whole.reason = "many new records";
        return whole;
    }
    return c;
}

std::optional<std::uint32_t> AnchorKey(const std::uint8_t* archive, int numSystems,
                                       std::uint32_t archPos) {
    const int stride = ArchiveStride(numSystems);
    if (!OnSlotBoundary(archPos, stride)) return std::nullopt;
    std::uint32_t slot = archPos - static_cast<std::uint32_t>(stride);
    if (slot < kRingStart) slot += arch::PeriodicSize;
    const ArchiveTime t = DecodeArchiveTime(archive + slot);
    if (!t.Valid()) return std::nullopt;
    return t.Key();
}

namespace {

// The valid records of the slots of `archive` that `wanted` accepts (by offset), per circuit.
template <typename Wanted>
std::vector<ArchiveRow> DecodeSlots(const std::uint8_t* archive, int numSystems, Wanted wanted) {
    const int stride = ArchiveStride(numSystems);
    std::vector<ArchiveRow> rows;
    for (int slot = 0; slot < ArchiveSlotCount(numSystems); ++slot) {
        const std::uint32_t offset = kRingStart + static_cast<std::uint32_t>(slot * stride);
        if (!wanted(offset)) continue;
        const std::uint8_t* r = archive + offset;
        const ArchiveTime t = DecodeArchiveTime(r);
        if (!t.Valid() ||
            !StampIsPlausible(t.Year(), t.Month(), t.Day(), t.Hour(), t.Minute(), t.Second()))
            continue;
        const std::string time =
            Stamp(t.Year(), t.Month(), t.Day(), t.Hour(), t.Minute(), t.Second());
        for (int c = 0; c < numSystems; ++c) {
            const CircuitSample s = DecodeSample(r + 4 + c * arch::SampleSize);
            ArchiveRow row;
            row.circuit = c + 1;
            row.time = time;
            row.t11 = Degrees(s.T11);
            row.t2 = Degrees(s.T2);
            row.tk = Degrees(s.Tk);
            row.tn = Degrees(s.Tn);
            row.real = Degrees(s.Real);
            row.base = Degrees(s.Base);
            row.klap = s.Klap;
            row.errors = static_cast<std::uint16_t>(s.Errors);
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

}  // namespace

std::vector<ArchiveRow> DecodeRecords(const std::uint8_t* archive, int numSystems,
                                      const ArchiveBlocks& read) {
    return DecodeSlots(archive, numSystems,
                       [&](std::uint32_t offset) { return Covers(read, offset); });
}

std::vector<EventRow> DecodeEvents(const std::uint8_t* archive, const ArchiveBlocks& read) {
    std::vector<EventRow> rows;
    for (int i = 0; i < arch::EventSlots; ++i) {
        const std::uint32_t offset =
            static_cast<std::uint32_t>(arch::EventLog + i * arch::EventSlotSize);
        if (!Covers(read, offset)) continue;
        const std::uint8_t* slot = archive + offset;
        if (!EventSlotHoldsEvent(slot)) continue;
        const EventRecord e = DecodeEvent(slot);
        if (!EventTimeIsPlausible(e)) continue;
        EventRow row;
        row.time = Stamp(2000 + FromBcd(e.year), FromBcd(e.month), FromBcd(e.day), FromBcd(e.hour),
                         FromBcd(e.min), FromBcd(e.sec));
        row.param = e.code == 255 ? 255 : (e.code & 0x7F);
        row.circuit = e.code == 255 ? 0 : ((e.code & 0x80) != 0 ? 2 : 1);
        row.name = EventName(e.code);
        row.newValue = e.newValue;
        row.oldValue = e.oldValue;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::uint64_t EventLogDigest(const std::uint8_t* archive) {
    std::uint64_t h = 14695981039346656037ull;
    for (int i = 0; i < arch::EventSlots * arch::EventSlotSize; ++i) {
        h ^= archive[arch::EventLog + i];
        h *= 1099511628211ull;
    }
    return h;
}

void FillArchive(Reading& reading, const std::uint8_t* image, const std::uint8_t* archive,
                 const BlockChoice& choice, const std::optional<StoredState>& state) {
    StoredState next;
    next.serial = I32(image, addr::DevNumber);
    next.numSystems = NormalisedCircuits(image);
    next.archPos = U32(image, addr::ArchPos);
    next.anchorKey = AnchorKey(archive, next.numSystems, next.archPos);
    next.clock = ClockText(image);
    if (Covers(choice.blocks, arch::EventLog)) next.eventLog = EventLogDigest(archive);
    const bool incremental = !choice.whole && state && state->serial == next.serial &&
                             state->numSystems == next.numSystems;
    if (incremental) {
        // The slots from the stored write position up to the new one, wrapping at the ring's
        // end; the same position means nothing new.
        const std::uint32_t from = state->archPos, to = next.archPos;
        reading.records = DecodeSlots(archive, next.numSystems, [&](std::uint32_t offset) {
            const bool fresh =
                from <= to ? offset >= from && offset < to : offset >= from || offset < to;
            return fresh && Covers(choice.blocks, offset);
        });
        if (!next.eventLog || state->eventLog != next.eventLog)
            reading.events = DecodeEvents(archive, choice.blocks);
    } else {
        reading.records = DecodeRecords(archive, next.numSystems, choice.blocks);
        reading.events = DecodeEvents(archive, choice.blocks);
    }
    reading.archiveState = next;
}

std::vector<std::pair<std::string, std::string>> CurrentValues(const std::uint8_t* image) {
    // The text output made from the image alone (an empty archive), cut after its first section.
    static const std::vector<std::uint8_t> kEmptyArchive(kArchiveSize, 0);
    const ImageSnapshot snap = TakeSnapshot(image);
    auto order = std::make_unique<ArchiveOrder>();
    std::string text;
    AppendTextOutput(
        text, TextOutputSource{snap, image, kEmptyArchive.data(), PanelTimeText(image)}, *order);
    std::vector<std::pair<std::string, std::string>> values;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + at, end - at);
        at = end + 2;
        if (!line.empty() && line.front() == '[') {
            if (!first) break;
            first = false;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        values.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
    return values;
}

}  // namespace vir05::poll
