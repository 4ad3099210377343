#pragma once
// Replacing a file's content in one step, so that the file on disk is whole at every moment.
#include <string>

namespace platform {

// Writes Bytes to a new temporary file beside FileName (created exclusively, 0600, never through a link),
// flushes it to disk and renames it over FileName. The file keeps the mode, and as far as this user may
// give them, the owner and group it had; a new one is created 0600. When FileName is a symbolic link of
// this user's (or of the owner of its folder), the link stays and the file it leads to is replaced beside
// it; a link someone else placed is replaced, never followed. Temporary files of the same file that
// killed processes left behind are removed first, those of live processes never. True when done; on
// failure the old file is untouched and the temporary file is gone.
bool ReplaceFileAtomically(const std::string& FileName, const std::string& Bytes);

} // namespace platform
