#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stream_open.h"
#include "platform/shell.h"
#include "platform/utf8_posix.h"

namespace kezthumb {

IStream* OpenReadStream(const std::filesystem::path& path, std::string* error) {
  // Opened here first for an honest reason when it fails.
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
  close(fd);
  const std::wstring wide = platform::Utf8ToWide(path.c_str());
  IStream* stream = nullptr;
  const HRESULT hr = SHCreateStreamOnFileEx(wide.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                            FALSE, nullptr, &stream);
  if (FAILED(hr) || stream == nullptr) {
    char text[48];
    std::snprintf(text, sizeof text, "cannot open a stream (0x%08X)", static_cast<unsigned>(hr));
    *error = text;
    return nullptr;
  }
  return stream;
}

}  // namespace kezthumb
