#include "platform/file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/utf8_posix.h"

namespace {

// A file as the file system knows it, whatever name it was opened by.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// An open file, shared by its handle and the mappings made from it: a
// mapping outlives the file handle, as on Windows, without a descriptor of
// its own per mapping (the pager makes one for every view).
struct Descriptor {
  explicit Descriptor(int opened) : fd(opened) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { close(fd); }
  const int fd;
};

// What a HANDLE stands for here.
struct KernelObject {
  enum class Kind { File, Mapping, Find } kind;
  std::shared_ptr<Descriptor> descriptor = nullptr;  // File and Mapping
  std::int64_t position = 0;  // File: the file pointer
  std::int64_t size = 0;      // Mapping: the bytes it covers
  FileId id{};                // File and Mapping

  int Fd() const { return descriptor->fd; }
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

constexpr std::int64_t kAllocationGrain = 65536;

struct View {
  std::size_t size;  // UnmapViewOfFile takes only the address
  FileId file;
};

// The mapped views and the files open through CreateFileW: what Windows
// checks before it deletes a file or cuts it short.
struct FileTable {
  std::mutex mutex;
  std::map<LPCVOID, View> views;
  std::map<FileId, int> openFiles;  // handles per file
};
FileTable& Files() {
  static FileTable* files = new FileTable;  // outlives every static destructor
  return *files;
}

// Writes the zeros of [from, to) grain by grain. The file reads as zeros
// already; this only leaves its pages in the cache as one folio per 64 KiB
// grain, as a file system with large folios makes them for writes of that
// size. A view of whole grains then takes one fault per grain, not one per
// page: Windows, too, brings a mapped file in by clusters. Failing changes
// nothing but speed.
void WriteZeroGrains(int fd, std::int64_t from, std::int64_t to) {
  static const char zeros[kAllocationGrain] = {};
  while (from < to) {
    const std::int64_t end = std::min(to, (from / kAllocationGrain + 1) * kAllocationGrain);
    if (pwrite(fd, zeros, static_cast<std::size_t>(end - from), from) != end - from) return;
    from = end;
  }
}

}  // namespace

// Windows' temporary folder is the user's own. /tmp is everyone's, so
// without TMPDIR the folder is /tmp/lumo-<uid>, made private to the user and
// refused (0, as a failing GetTempPathW gives) when someone else could have
// planted it or a link in it.
DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  std::string dir;
  if (const char* given = std::getenv("TMPDIR"); given != nullptr && *given != '\0') {
    dir = given;
  } else {
    dir = "/tmp/lumo-" + std::to_string(getuid());
    struct stat info;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      SetLastError(FromErrno(errno));
      return 0;
    }
    if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        (info.st_mode & 077) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  std::wstring path = platform::Utf8ToWide(dir.c_str());
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

BOOL DeleteFileW(LPCWSTR name) {
  const std::string path = Path(name);
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    std::lock_guard<std::mutex> lock(Files().mutex);
    if (Files().openFiles.contains(FileId{info.st_dev, info.st_ino})) return Fail(ERROR_SHARING_VIOLATION);
  }
  return unlink(path.c_str()) == 0 ? TRUE : Fail(FromErrno(errno));
}

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
  const int fd = open(Path(name).c_str(), flags, 0600);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    SetLastError(FromErrno(errno));
    if (fd >= 0) close(fd);
    delete file;
    return INVALID_HANDLE_VALUE;
  }
  file->id = FileId{info.st_dev, info.st_ino};
  try {
    file->descriptor = std::make_shared<Descriptor>(fd);
    std::lock_guard<std::mutex> lock(Files().mutex);
    ++Files().openFiles[file->id];
  } catch (const std::bad_alloc&) {
    if (file->descriptor == nullptr) close(fd);
    delete file;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
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
    if (fstat(file->Fd(), &info) != 0) return Fail(FromErrno(errno));
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
  if (fstat(file->Fd(), &info) != 0) return Fail(FromErrno(errno));
  if (file->position > info.st_size) {
    const int error = posix_fallocate(file->Fd(), info.st_size, file->position - info.st_size);
    // posix_fallocate may have grown the file part of the way: back to the
    // size it had, as a failed SetEndOfFile leaves it.
    if (error != 0) {
      [[maybe_unused]] const int restored = ftruncate(file->Fd(), info.st_size);
      return Fail(FromErrno(error));
    }
    WriteZeroGrains(file->Fd(), info.st_size, file->position);
    return TRUE;
  }
  if (file->position < info.st_size) {
    // POSIX would cut the pages from under the views, to fault when touched.
    std::lock_guard<std::mutex> lock(Files().mutex);
    for (const auto& [address, view] : Files().views)
      if (view.file == file->id) return Fail(ERROR_USER_MAPPED_FILE);
  }
  return ftruncate(file->Fd(), file->position) == 0 ? TRUE : Fail(FromErrno(errno));
}

HANDLE CreateFileMappingW(HANDLE handle, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumHigh, DWORD maximumLow,
                          LPCWSTR name) {
  KernelObject* file = Object(handle, KernelObject::Kind::File);
  if (file == nullptr || protect != PAGE_READWRITE || name != nullptr) {
    SetLastError(file == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  struct stat info;
  if (fstat(file->Fd(), &info) != 0) {
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
  mapping->descriptor = file->descriptor;
  mapping->size = maximum != 0 ? maximum : info.st_size;
  mapping->id = file->id;
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
  if (access != FILE_MAP_WRITE || baseAddress != nullptr || bytes == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // mmap takes any page; Windows only its allocation grain.
  if (offset % kAllocationGrain != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  // A view past the mapping's end would fault on access instead of failing.
  if (offset > mapping->size || bytes > static_cast<std::uint64_t>(mapping->size - offset)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* view = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->Fd(), offset);
  if (view == MAP_FAILED) {
    SetLastError(FromErrno(errno));
    return nullptr;
  }
  // No read-around: it fills the page cache with large folios, and a view
  // smaller than its folio then takes a write fault per page that dirties
  // the whole folio each time (many times slower than one plain mapping).
  madvise(view, bytes, MADV_RANDOM);
  // Mapped writable at once: a view is mapped because its block is about to
  // be used, and a page first mapped by a read would take a second fault at
  // its first write (Windows tracks that in the page tables instead). The
  // price: a view only read is written back whole. Failing costs the faults.
  madvise(view, bytes, MADV_POPULATE_WRITE);
  try {
    std::lock_guard<std::mutex> lock(Files().mutex);
    Files().views.emplace(view, View{bytes, mapping->id});
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
    std::lock_guard<std::mutex> lock(Files().mutex);
    const auto view = Files().views.find(address);
    if (view == Files().views.end()) return Fail(ERROR_INVALID_PARAMETER);
    bytes = view->second.size;
    Files().views.erase(view);
  }
  return munmap(const_cast<void*>(address), bytes) == 0 ? TRUE : Fail(FromErrno(errno));
}

BOOL CloseHandle(HANDLE handle) {
  auto* object = static_cast<KernelObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || object->kind == KernelObject::Kind::Find)
    return Fail(ERROR_INVALID_HANDLE);
  if (object->kind == KernelObject::Kind::File) {
    std::lock_guard<std::mutex> lock(Files().mutex);
    const auto open = Files().openFiles.find(object->id);
    if (open != Files().openFiles.end() && --open->second == 0) Files().openFiles.erase(open);
  }
  delete object;  // the descriptor closes with its last handle
  return TRUE;
}
