#include <cstdio>

#include "stream_open.h"
#include "platform/shell.h"

namespace kezthumb {

IStream* OpenReadStream(const std::filesystem::path& path, std::string* error) {
  IStream* stream = nullptr;
  const HRESULT hr = SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                            FALSE, nullptr, &stream);
  if (FAILED(hr) || stream == nullptr) {
    char text[48];
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
      std::snprintf(text, sizeof text, "No such file or directory");
    else if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
      std::snprintf(text, sizeof text, "Permission denied");
    else
      std::snprintf(text, sizeof text, "cannot open a stream (0x%08X)", static_cast<unsigned>(hr));
    *error = text;
    return nullptr;
  }
  return stream;
}

}  // namespace kezthumb
