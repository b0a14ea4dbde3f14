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
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
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
    case EISDIR:
    case ELOOP:  // a link where O_NOFOLLOW wants the file itself
      return ERROR_ACCESS_DENIED;
    case EWOULDBLOCK:  // flock: another handle holds the file
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
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

// The mapped views: what Windows checks before it cuts a file short.
struct FileTable {
  std::mutex mutex;
  std::map<LPCVOID, View> views;
};
FileTable& Files() {
  static FileTable* files = new FileTable;  // outlives every static destructor
  return *files;
}

// The user's private folder below /tmp, or "" with the last error set. The
// name is the same for all of the user's processes; when something else has
// it (another user's folder, a link, a folder open to others or closed to
// its owner), the call gets a fresh private folder, left behind empty at exit.
std::string PrivateFolder() {
  std::string dir = "/tmp/lumo-" + std::to_string(geteuid());
  struct stat info;
  if ((mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) && lstat(dir.c_str(), &info) == 0 &&
      S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 0777) == 0700)
    return dir;
  dir += "-XXXXXX";
  if (mkdtemp(dir.data()) != nullptr) return dir;
  SetLastError(FromErrno(errno));
  return {};
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
// without TMPDIR the folder is a private one of the user's below it.
DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  const char* given = std::getenv("TMPDIR");
  const std::string dir = given != nullptr && *given != '\0' ? std::string(given) : PrivateFolder();
  if (dir.empty()) return 0;
  std::wstring path = platform::Utf8ToWide(dir.c_str());
  if (path.back() != L'/') path.push_back(L'/');
  if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
  path.copy(buffer, path.size());
  buffer[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

HANDLE FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data) {
  struct stat info;
  if (lstat(Path(name).c_str(), &info) != 0) {  // a link is found as itself
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

// The file is unlinked under its lock, and only while the name still names
// it: a process that finds it gone and makes the file anew holds the new one.
// A link, or a file that cannot be opened to lock, is held by no handle here;
// but one that is not opened for want of descriptors or memory may be.
BOOL DeleteFileW(LPCWSTR name) {
  const std::string path = Path(name);
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) return Fail(FromErrno(errno));
  struct stat locked, named;
  const bool held = fd >= 0 && (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &locked) != 0 ||
                                lstat(path.c_str(), &named) != 0 || locked.st_dev != named.st_dev ||
                                locked.st_ino != named.st_ino);
  const int result = held ? -1 : unlink(path.c_str());
  const int error = errno;
  if (fd >= 0) close(fd);
  if (held) return Fail(ERROR_SHARING_VIOLATION);
  return result == 0 ? TRUE : Fail(FromErrno(error));
}

// The checks come before the lock and the lock before truncation, so that
// nothing is done to a file that is not the user's or that another holds.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
  const bool writes = (access & GENERIC_WRITE) != 0;
  int flags = O_CLOEXEC | O_NOFOLLOW;
  flags |= writes ? ((access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (creation == OPEN_ALWAYS || creation == CREATE_ALWAYS) flags |= O_CREAT;
  auto* file = new (std::nothrow) KernelObject{KernelObject::Kind::File};
  if (file == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = open(Path(name).c_str(), flags, 0600);
  const int lock = !writes && (shareMode & FILE_SHARE_READ) != 0 ? LOCK_SH : LOCK_EX;
  struct stat info;
  DWORD error = ERROR_SUCCESS;
  if (fd < 0 || fstat(fd, &info) != 0) error = FromErrno(errno);
  else if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) error = ERROR_ACCESS_DENIED;
  else if (flock(fd, lock | LOCK_NB) != 0 || (creation == CREATE_ALWAYS && ftruncate(fd, 0) != 0))
    error = FromErrno(errno);
  if (error != ERROR_SUCCESS) {
    if (fd >= 0) close(fd);
    delete file;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  file->id = FileId{info.st_dev, info.st_ino};
  try {
    file->descriptor = std::make_shared<Descriptor>(fd);
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
    // The kernel would end the process with SIGXFSZ instead of failing.
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(file->position) > limit.rlim_cur)
      return Fail(ERROR_DISK_FULL);
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
  delete object;  // the descriptor, and its lock, close with its last handle
  return TRUE;
}
