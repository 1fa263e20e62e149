// Saving without ever losing the file being replaced.
#pragma once

#include <cstddef>
#include <string>

namespace kelm_cli {

// Writes `size` bytes to `path`: into a new temporary file in the target's
// folder first, renamed over the target only after every byte was written,
// flushed and closed without error. The target keeps its permission bits (a
// new file gets 0666 less the umask); a symbolic link is followed and the
// file it names is replaced. On any failure the temporary file is removed,
// the target is untouched, and `reason` says why (the system's message, for
// example "File too large"). "-" writes to standard output.
bool write_file_safely(const std::string& path, const void* data, size_t size, std::string* reason);

}  // namespace kelm_cli
