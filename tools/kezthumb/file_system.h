// What the tool asks of the file system and the terminal, one implementation
// per platform (file_system_posix.cc, file_system_win.cc).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "byte_sink.h"

namespace kezthumb {

struct FileStamp {
  std::int64_t mtime = 0;  // seconds since 1970-01-01 UTC
  std::uint64_t size = 0;  // bytes
};

// The modification time and size of a regular file (symbolic links followed).
bool StatFile(const std::filesystem::path& path, FileStamp* stamp, std::string* error);

// Reads up to `size` bytes from the start of a file; *got tells how many.
bool ReadFileHead(const std::filesystem::path& path, std::uint8_t* buffer, std::size_t size, std::size_t* got,
                  std::string* error);

// Writes `bytes` to a fresh temporary file beside `path` and renames it onto
// `path`, so readers see the old file or the whole new one, never a part. The
// temporary file is removed on failure, and (on POSIX) on SIGINT, SIGTERM or
// SIGHUP while it exists. A private file is readable by its owner only (0600); otherwise the
// usual 0666 less the umask.
// `produce` hands the file's bytes to its sink as it makes them, so that
// they are never all in memory at once; it says why it failed, unless the
// sink did: then the write's own reason is given.
bool WriteFileAtomically(const std::filesystem::path& path,
                         const std::function<bool(const ByteSink& sink, std::string* error)>& produce,
                         bool privateFile, std::string* error);
inline bool WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                                bool privateFile, std::string* error) {
  return WriteFileAtomically(
      path, [&bytes](const ByteSink& sink, std::string*) { return sink(bytes.data(), bytes.size()); }, privateFile,
      error);
}

// Creates `path` and its missing parents; the folders made here are private to
// their owner (0700). Existing folders are left as they are.
bool MakePrivateDirectories(const std::filesystem::path& path, std::string* error);

// Removes the temporary files of WriteFileAtomically when the process is
// interrupted, then lets the signal end it as usual. Call once, early.
void InstallInterruptCleanup();

bool StderrIsTerminal();
// Columns of the terminal on stderr; 80 when it cannot be told.
int StderrColumns();

// Peak resident memory of this process in KiB (0 when unknown).
std::uint64_t PeakMemoryKiB();

}  // namespace kezthumb
