// Replacing a small file all at once.
#pragma once

#include <string>
#include <string_view>

namespace halvyn {

// Makes the file at path hold exactly contents, or leaves it as it was.
//
// The bytes go to a new temporary file in the same folder, which is flushed
// to disk (fsync) and then renamed over path, so a crash or a full disk at any
// moment leaves either the old file or the complete new one, never a partial
// or empty one. An existing file's permission bits are kept; a new file gets
// the usual 0666 less the umask.
//
// Returns true when path was replaced. On failure the old file is untouched,
// the temporary file is removed, and *error (when not null) describes what
// failed, for the operator, e.g. "cannot write server.txt: No space left on
// device". Any thread; not safe against another writer of the same path.
[[nodiscard]] bool ReplaceFileContents(const std::string& path, std::string_view contents,
                                       std::string* error);

}  // namespace halvyn
