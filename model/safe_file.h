// Files the program creates, replaces or deletes by a name it was given.
//
// The working directory of an unattended run may be shared, and the names come from a command
// line: a name may stand for a FIFO, a device node, a directory or a planted link. The program
// only ever deletes or replaces a regular file, or a link (the link itself, never what it points
// at); it never blocks in opening a name, never follows a link when it creates a file, and writes
// whole files through a temporary file beside the name that replaces it only once complete.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace vir05 {

enum class NodeKind {
    Missing,  // nothing of that name
    Regular,  // a regular file
    Link,     // a symbolic link, whatever it points at
    Other,    // a directory, FIFO, device node or socket: never touched
};

NodeKind ClassifyNode(const std::string& path);

// True when the program may delete or replace what stands at `path`: nothing, a regular file,
// or a link.
inline bool Replaceable(NodeKind kind) {
    return kind != NodeKind::Other;
}

// Deletes a regular file or a link (not its target). Returns false, touching nothing, when
// something else stands there; true when the name is free afterwards.
bool RemoveIfReplaceable(const std::string& path);

// Creates `path` for writing, or empties it when it is a regular file. A link at the name is
// removed and a new file created in its place; a directory, FIFO or device is refused. Never
// blocks. Returns nullptr with `error` set on failure.
std::FILE* CreateForWriting(const std::string& path, std::string& error);

// Opens a regular file for reading (a link to one is followed: the caller named it). A FIFO or
// device is refused without waiting for a writer. `maxSize` > 0 refuses larger files. Returns
// nullptr with `error` set on failure.
std::FILE* OpenRegularForReading(const std::string& path, std::string& error,
                                 std::size_t maxSize = 0);

// Writes `bytes` to a new temporary file beside `path` (created exclusively under a name no
// other run uses), then renames it over `path`. Refuses when `path` is neither free nor
// replaceable. On any failure (a full disk included) the temporary file is removed, `path` is
// left as it was and `error` says why.
bool ReplaceFileWith(const std::string& path, std::string_view bytes, std::string& error);

// True when both names lead to the same existing file (links followed, case and spelling of
// the path as the file system sees it).
bool SameExistingFile(const std::string& a, const std::string& b);

// The system's text of the last error, in the words the program writes to its logs.
std::string SystemErrorText(int error);

}  // namespace vir05
