// Memory and file streams with the results of the shell's own.
#include "platform/shell.h"
#include "platform/utf8_posix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The IUnknown part both streams share.
class StreamBase : public IStream {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
      AddRef();
      *ppv = static_cast<IStream*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }

 protected:
  virtual ~StreamBase() = default;

  // New position for a seek, or false when it would fall before the start.
  static bool Reposition(ULONGLONG current, ULONGLONG size, LARGE_INTEGER move, DWORD origin, ULONGLONG* result) {
    LONGLONG base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(current); break;
      case STREAM_SEEK_END: base = static_cast<LONGLONG>(size); break;
      default: return false;
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) return false;
    *result = static_cast<ULONGLONG>(target);
    return true;
  }

  static void FillStat(STATSTG* stat, ULONGLONG size, DWORD mode) {
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size;
    stat->grfMode = mode;
  }

 private:
  LONG m_refCount = 1;
};

class MemoryStream final : public StreamBase {
 public:
  explicit MemoryStream(std::vector<BYTE> data) : m_data(std::move(data)) {}

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    ULONG n = 0;
    if (m_position < m_data.size()) n = static_cast<ULONG>(std::min<ULONGLONG>(cb, m_data.size() - m_position));
    if (n != 0) std::memcpy(pv, m_data.data() + m_position, n);
    m_position += n;
    if (pcbRead != nullptr) *pcbRead = n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    try {
      if (m_position + cb > m_data.size()) m_data.resize(m_position + cb);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (cb != 0) std::memcpy(m_data.data() + m_position, pv, cb);
    m_position += cb;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    ULONGLONG target = 0;
    if (!Reposition(m_position, m_data.size(), move, origin, &target)) return STG_E_INVALIDFUNCTION;
    m_position = target;
    if (newPosition != nullptr) newPosition->QuadPart = m_position;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    try {
      m_data.resize(size.QuadPart);
    } catch (const std::exception&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    FillStat(stat, m_data.size(), STGM_READWRITE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override {
    if (clone == nullptr) return STG_E_INVALIDPOINTER;
    auto* copy = new (std::nothrow) MemoryStream(m_data);
    if (copy == nullptr) return E_OUTOFMEMORY;
    copy->m_position = m_position;
    *clone = copy;
    return S_OK;
  }

 private:
  std::vector<BYTE> m_data;
  ULONGLONG m_position = 0;
};

class FileStream final : public StreamBase {
 public:
  FileStream(int fd, DWORD mode) : m_fd(fd), m_mode(mode) {}
  ~FileStream() override { close(m_fd); }

  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    ULONG done = 0;
    while (done < cb) {
      const ssize_t got = pread(m_fd, static_cast<char*>(pv) + done, std::min<ULONG>(cb - done, 1u << 30),
                                static_cast<off_t>(m_position + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        if (pcbRead != nullptr) *pcbRead = done;
        m_position += done;
        return STG_E_READFAULT;
      }
      if (got == 0) break;
      done += static_cast<ULONG>(got);
    }
    m_position += done;
    if (pcbRead != nullptr) *pcbRead = done;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if ((m_mode & (STGM_WRITE | STGM_READWRITE)) == 0) return STG_E_ACCESSDENIED;
    if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
    ULONG done = 0;
    while (done < cb) {
      const ssize_t put = pwrite(m_fd, static_cast<const char*>(pv) + done, cb - done,
                                 static_cast<off_t>(m_position + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        m_position += done;
        if (pcbWritten != nullptr) *pcbWritten = done;
        return STG_E_ACCESSDENIED;
      }
      done += static_cast<ULONG>(put);
    }
    m_position += done;
    if (pcbWritten != nullptr) *pcbWritten = done;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    ULONGLONG target = 0;
    if (!Reposition(m_position, Size(), move, origin, &target)) return STG_E_INVALIDFUNCTION;
    m_position = target;
    if (newPosition != nullptr) newPosition->QuadPart = m_position;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    if ((m_mode & (STGM_WRITE | STGM_READWRITE)) == 0) return STG_E_ACCESSDENIED;
    return ftruncate(m_fd, static_cast<off_t>(size.QuadPart)) == 0 ? S_OK : STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    struct stat st {};
    if (fstat(m_fd, &st) != 0) return STG_E_ACCESSDENIED;
    FillStat(stat, static_cast<ULONGLONG>(st.st_size), m_mode);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ULONGLONG Size() const {
    struct stat st {};
    return fstat(m_fd, &st) == 0 ? static_cast<ULONGLONG>(st.st_size) : 0;
  }

  int m_fd;
  DWORD m_mode;
  ULONGLONG m_position = 0;
};


}  // namespace

IStream* SHCreateMemStream(const BYTE* init, UINT cb) {
  try {
    std::vector<BYTE> data;
    if (init != nullptr) data.assign(init, init + cb);
    return new MemoryStream(std::move(data));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HRESULT SHCreateStreamOnFileEx(LPCWSTR path, DWORD grfMode, DWORD, BOOL fCreate, IStream* pstmTemplate,
                               IStream** ppstm) {
  if (ppstm == nullptr) return E_INVALIDARG;
  *ppstm = nullptr;
  if (path == nullptr || pstmTemplate != nullptr) return E_INVALIDARG;
  const DWORD access = grfMode & 3;
  int flags = access == STGM_READ ? O_RDONLY : access == STGM_WRITE ? O_WRONLY : O_RDWR;
  if ((grfMode & STGM_CREATE) != 0) flags |= O_CREAT | O_TRUNC;
  else if (fCreate) flags |= O_CREAT;
  const int fd = open(platform::WideToUtf8(path).c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      case EACCES:
      case EPERM: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
      default: return E_FAIL;
    }
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  *ppstm = new (std::nothrow) FileStream(fd, grfMode);
  if (*ppstm == nullptr) {
    close(fd);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
