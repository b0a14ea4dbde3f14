#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_system.h"

namespace kezthumb {
namespace {

// Temporary files that exist right now, for the interrupt handler. A slot is
// claimed by a writer, filled, then published; the handler reads only
// published slots and only calls unlink, which is async-signal-safe.
constexpr int kSlots = 64;
constexpr std::size_t kSlotPath = 4096;
struct TempSlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 published
  char path[kSlotPath];
};
TempSlot g_tempSlots[kSlots];

int ClaimSlot(const std::string& path) {
  if (path.size() >= kSlotPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_tempSlots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_tempSlots[i].path, path.c_str(), path.size() + 1);
      g_tempSlots[i].state.store(2);
      return i;
    }
  }
  return -1;  // more writers than slots: this file goes unguarded
}

void FreeSlot(int slot) {
  if (slot >= 0) g_tempSlots[slot].state.store(0);
}

extern "C" void OnInterrupt(int signal) {
  for (auto& slot : g_tempSlots)
    if (slot.state.load() == 2) unlink(slot.path);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string Reason(int error) { return std::strerror(error); }

// Writes all of `bytes`, retrying short writes and interruptions.
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

bool StatFile(const std::filesystem::path& path, FileStamp* stamp, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    *error = Reason(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  stamp->mtime = static_cast<std::int64_t>(st.st_mtime);
  stamp->size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool ReadFileHead(const std::filesystem::path& path, std::uint8_t* buffer, std::size_t size, std::size_t* got,
                  std::string* error) {
  *got = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Reason(errno);
    return false;
  }
  while (*got < size) {
    const ssize_t n = read(fd, buffer + *got, size - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Reason(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  close(fd);
  return true;
}

bool WriteFileAtomically(const std::filesystem::path& path,
                         const std::function<bool(const ByteSink& sink, std::string* error)>& produce,
                         bool privateFile, std::string* error) {
  // A hidden name in the same folder, so the rename never crosses devices.
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temp;
  int fd = -1;
  int slot = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
    std::string name(1, '.');
    name.append(path.filename().string()).append(suffix);
    temp = (folder / name).string();
    // Published before the file exists: an interrupt landing right after
    // the open must find it (unlinking a name not yet made is harmless).
    slot = ClaimSlot(temp);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateFile ? 0600 : 0666);
    if (fd < 0) {
      const int saved = errno;
      FreeSlot(slot);
      slot = -1;
      if (saved != EEXIST) {
        *error = Reason(saved);
        return false;
      }
    }
  }
  if (fd < 0) {
    *error = "no free temporary name";
    return false;
  }
  int saved = 0;
  const ByteSink sink = [fd, &saved](const std::uint8_t* bytes, std::size_t size) {
    if (WriteAll(fd, bytes, size)) return true;
    saved = errno;
    return false;
  };
  std::string reason;
  bool ok = produce(sink, &reason);
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    *error = saved != 0 ? Reason(saved) : reason;
  }
  FreeSlot(slot);
  return ok;
}

bool MakePrivateDirectories(const std::filesystem::path& path, std::string* error) {
  std::filesystem::path built;
  for (const auto& part : path) {
    built /= part;
    if (mkdir(built.c_str(), 0700) == 0) continue;
    const int saved = errno;
    struct stat st {};
    if (saved == EEXIST && stat(built.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    *error = built.string() + ": " + Reason(saved == EEXIST ? ENOTDIR : saved);
    return false;
  }
  return true;
}

void InstallInterruptCleanup() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int StderrColumns() {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::uint64_t PeakMemoryKiB() {
  struct rusage usage {};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<std::uint64_t>(usage.ru_maxrss);  // Linux reports KiB
}

}  // namespace kezthumb
