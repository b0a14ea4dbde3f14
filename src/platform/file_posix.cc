#include "platform/file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/utf8_posix.h"

namespace {

// What a HANDLE stands for here.
struct KernelObject {
  enum class Kind { File, Mapping, Find } kind;
  int fd = -1;
  std::int64_t position = 0;  // File: the file pointer
  std::int64_t size = 0;      // Mapping: the bytes it covers
};

KernelObject* Object(HANDLE handle, KernelObject::Kind kind) {
  auto* object = static_cast<KernelObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || object->kind != kind) return nullptr;
  return object;
}

DWORD FromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::string Path(LPCWSTR name) { return platform::WideToUtf8(name); }

// The sizes of the mapped views: UnmapViewOfFile takes only the address.
struct ViewTable {
  std::mutex mutex;
  std::map<LPCVOID, std::size_t> sizes;
};
ViewTable& Views() {
  static ViewTable* views = new ViewTable;  // outlives every static destructor
  return *views;
}

}  // namespace

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  const char* dir = std::getenv("TMPDIR");
  std::wstring path = platform::Utf8ToWide(dir != nullptr && *dir != '\0' ? dir : "/tmp");
  if (path.back() != L'/') path.push_back(L'/');
  if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
  path.copy(buffer, path.size());
  buffer[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

HANDLE FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data) {
  struct stat info;
  if (stat(Path(name).c_str(), &info) != 0) {
    SetLastError(FromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new (std::nothrow) KernelObject{KernelObject::Kind::Find};
  if (find == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  *data = {};
  data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  data->nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(info.st_size) >> 32);
  data->nFileSizeLow = static_cast<DWORD>(info.st_size);
  const std::wstring whole(name);
  const std::wstring base = whole.substr(whole.find_last_of(L'/') + 1);
  base.copy(data->cFileName, std::min<std::size_t>(base.size(), MAX_PATH - 1));
  return find;
}

BOOL FindClose(HANDLE find) {
  KernelObject* object = Object(find, KernelObject::Kind::Find);
  if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
  delete object;
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) { return unlink(Path(name).c_str()) == 0 ? TRUE : Fail(FromErrno(errno)); }

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE) {
  int flags = O_CLOEXEC;
  flags |= (access & GENERIC_WRITE) != 0 ? ((access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (creation == OPEN_ALWAYS) flags |= O_CREAT;
  if (creation == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
  auto* file = new (std::nothrow) KernelObject{KernelObject::Kind::File};
  if (file == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  file->fd = open(Path(name).c_str(), flags, 0600);
  if (file->fd < 0) {
    SetLastError(FromErrno(errno));
    delete file;
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method) {
  KernelObject* file = Object(handle, KernelObject::Kind::File);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::int64_t base = 0;
  if (method == FILE_END) {
    struct stat info;
    if (fstat(file->fd, &info) != 0) return Fail(FromErrno(errno));
    base = info.st_size;
  } else if (method != FILE_BEGIN) {
    base = file->position;
  }
  if (__builtin_add_overflow(base, distance.QuadPart, &base) || base < 0) return Fail(ERROR_INVALID_PARAMETER);
  file->position = base;
  if (newPosition != nullptr) newPosition->QuadPart = base;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
  KernelObject* file = Object(handle, KernelObject::Kind::File);
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  struct stat info;
  if (fstat(file->fd, &info) != 0) return Fail(FromErrno(errno));
  if (file->position > info.st_size) {
    const int error = posix_fallocate(file->fd, info.st_size, file->position - info.st_size);
    // posix_fallocate may have grown the file part of the way: back to the
    // size it had, as a failed SetEndOfFile leaves it.
    if (error != 0) {
      [[maybe_unused]] const int restored = ftruncate(file->fd, info.st_size);
      return Fail(FromErrno(error));
    }
    return TRUE;
  }
  return ftruncate(file->fd, file->position) == 0 ? TRUE : Fail(FromErrno(errno));
}

HANDLE CreateFileMappingW(HANDLE handle, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumHigh, DWORD maximumLow,
                          LPCWSTR name) {
  KernelObject* file = Object(handle, KernelObject::Kind::File);
  if (file == nullptr || protect != PAGE_READWRITE || name != nullptr) {
    SetLastError(file == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    SetLastError(FromErrno(errno));
    return nullptr;
  }
  const std::int64_t maximum = (static_cast<std::int64_t>(maximumHigh) << 32) | maximumLow;
  if (maximum == 0 && info.st_size == 0) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  auto* mapping = new (std::nothrow) KernelObject{KernelObject::Kind::Mapping};
  if (mapping == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Its own descriptor: the mapping outlives the file handle, as on Windows.
  mapping->fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
  mapping->size = maximum != 0 ? maximum : info.st_size;
  if (mapping->fd < 0) {
    SetLastError(FromErrno(errno));
    delete mapping;
    return nullptr;
  }
  return mapping;
}

LPVOID MapViewOfFileEx(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes,
                       LPVOID baseAddress) {
  KernelObject* mapping = Object(handle, KernelObject::Kind::Mapping);
  const std::int64_t offset = (static_cast<std::int64_t>(offsetHigh) << 32) | offsetLow;
  if (mapping == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (bytes == 0) bytes = static_cast<SIZE_T>(mapping->size - std::min(offset, mapping->size));
  // A view past the mapping's end would fault on access instead of failing.
  if (access != FILE_MAP_WRITE || baseAddress != nullptr || bytes == 0 || offset > mapping->size ||
      bytes > static_cast<std::uint64_t>(mapping->size - offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* view = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->fd, offset);
  if (view == MAP_FAILED) {
    SetLastError(FromErrno(errno));
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> lock(Views().mutex);
    Views().sizes.emplace(view, bytes);
  } catch (const std::bad_alloc&) {
    munmap(view, bytes);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return view;
}

BOOL UnmapViewOfFile(LPCVOID address) {
  std::size_t bytes = 0;
  {
    std::lock_guard<std::mutex> lock(Views().mutex);
    const auto view = Views().sizes.find(address);
    if (view == Views().sizes.end()) return Fail(ERROR_INVALID_PARAMETER);
    bytes = view->second;
    Views().sizes.erase(view);
  }
  return munmap(const_cast<void*>(address), bytes) == 0 ? TRUE : Fail(FromErrno(errno));
}

BOOL CloseHandle(HANDLE handle) {
  auto* object = static_cast<KernelObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || object->kind == KernelObject::Kind::Find)
    return Fail(ERROR_INVALID_HANDLE);
  const int rc = close(object->fd);
  delete object;
  return rc == 0 ? TRUE : Fail(FromErrno(errno));
}
