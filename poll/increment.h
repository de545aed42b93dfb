// What one reading of a controller yields for the store, and which archive blocks a reading
// asks for.
//
// The archive memory is 128 KiB: the event log in its first 16 KiB, then the periodic ring
// (0x4000 to 0x1FFFF) that the controller fills forward from ArchPos, wrapping to 0x4000. A
// reading after an earlier one needs only the event log and the slots from the record just
// before the stored ArchPos (the anchor, to prove nothing was lost in between) up to the new
// ArchPos. Those byte ranges are covered with as few 32 KiB block requests as possible: the
// block at 0 always (it holds the event log), then, from the lowest offset not yet covered, a
// block starting there (at most at 98304, so that it stays in the ring).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/link_engine.h"
#include "poll/fleet.h"
#include "poll/store.h"

namespace vir05::poll {

// The blocks of a whole archive: the four aligned blocks, the newest records first.
ArchiveBlocks WholeArchiveBlocks(std::uint32_t archPos);

struct BlockChoice {
    ArchiveBlocks blocks;
    bool whole = true;   // every block of the archive
    std::string reason;  // why the whole archive is read ("" when it is not)
};

// Chooses the blocks for `image` (the 1955 bytes just read) given the state of the last
// archive read. The whole archive is read when there is no state, when the controller is another
// one (serial number, circuit count), when its clock runs behind the stored one, or when a
// write position is not a slot boundary of the ring.
BlockChoice ChooseBlocks(const std::uint8_t* image, const std::optional<StoredState>& state);

// The 32-bit key of the valid periodic record just before `archPos` in `archive` (131072 bytes).
std::optional<std::uint32_t> AnchorKey(const std::uint8_t* archive, int numSystems,
                                       std::uint32_t archPos);

// True when the blocks cover archive offset `offset`.
bool Covers(const ArchiveBlocks& blocks, std::uint32_t offset);

int NormalisedCircuits(const std::uint8_t* image);
// The controller's clock as "YYYY-MM-DD HH:MM:SS"; empty when it is not a real date and time.
std::string ClockText(const std::uint8_t* image);

// Every valid periodic record of `archive` within the blocks read, per circuit.
std::vector<ArchiveRow> DecodeRecords(const std::uint8_t* archive, int numSystems,
                                      const ArchiveBlocks& read);
// Every event of the event log (when the blocks read hold it).
std::vector<EventRow> DecodeEvents(const std::uint8_t* archive, const ArchiveBlocks& read);

// A digest of the event log's 16 KiB (64-bit FNV-1a): a log whose digest is the stored one has
// not changed since, so its events are all stored already.
std::uint64_t EventLogDigest(const std::uint8_t* archive);

// Fills the archive part of a successful reading from `image` and `archive` as read with
// `choice`: the records and events offered to the store and the state the next reading starts
// from. A whole read offers every record and event it read. An incremental read offers only the
// records of the slots written since the stored state (its ArchPos up to the new one) and the
// event log's events only when the log's digest differs from the stored one; the others went in
// with an earlier reading, so the store sees each record and event once in the usual case.
void FillArchive(Reading& reading, const std::uint8_t* image, const std::uint8_t* archive,
                 const BlockChoice& choice, const std::optional<StoredState>& state);

// The keys and values of the text output's first section, as the text output writes them.
std::vector<std::pair<std::string, std::string>> CurrentValues(const std::uint8_t* image);

}  // namespace vir05::poll
