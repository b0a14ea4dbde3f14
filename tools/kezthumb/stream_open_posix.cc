#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stream_open.h"
#include "platform/shell.h"

namespace kezthumb {
namespace {

bool IsAscii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

IStream* OpenReadStream(const std::filesystem::path& path, std::string* error) {
  // Opened here first for an honest reason when it fails, and because the
  // stand-in turns wide names into bytes through the C locale: a name that is
  // not plain ASCII is handed over as this descriptor's /proc alias instead.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    close(fd);
    return nullptr;
  }
  const std::string name = IsAscii(path.native()) ? path.native() : "/proc/self/fd/" + std::to_string(fd);
  const std::wstring wide(name.begin(), name.end());
  IStream* stream = nullptr;
  const HRESULT hr = SHCreateStreamOnFileEx(wide.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                            FALSE, nullptr, &stream);
  close(fd);
  if (FAILED(hr) || stream == nullptr) {
    char text[48];
    std::snprintf(text, sizeof text, "cannot open a stream (0x%08X)", static_cast<unsigned>(hr));
    *error = text;
    return nullptr;
  }
  return stream;
}

}  // namespace kezthumb
