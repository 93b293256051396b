// Replacing a small file's contents, all at once where the folder allows.
#pragma once

#include <string>
#include <string_view>

namespace halvyn {

// Makes the file at path hold exactly contents, or leaves it as it was.
//
// A symbolic link at path is followed (link by link, also to a target that
// does not exist yet): the file it names is written and the link stays. A
// file that exists but that this process may not write is left alone: that
// is a failure.
//
// Normally the bytes go to a new temporary file in the target's folder, which
// is flushed to disk (fsync) and then renamed over the target, so a crash or
// a full disk at any moment leaves either the old file or the complete new
// one, never a partial or empty one. An existing file's permission bits are
// kept; a new file gets the usual 0666 less the umask. When that folder
// refuses new files but the file itself may be written, the file is rewritten
// in place instead (written from its start, cut to the new length, flushed):
// not atomic, but the only way to update it there.
//
// Returns true when the file holds contents. On failure *error (when not
// null) describes what failed, for the operator, e.g. "cannot write
// server.txt: No space left on device"; no temporary file is left behind, and
// the old file is untouched unless the failure came part-way through an
// in-place rewrite. Any thread; not safe against another writer of the same
// path.
[[nodiscard]] bool ReplaceFileContents(const std::string& path, std::string_view contents,
                                       std::string* error);

}  // namespace halvyn
