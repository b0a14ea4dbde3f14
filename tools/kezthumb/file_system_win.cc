#include "platform/kernel.h"

#include <io.h>
#include <psapi.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <algorithm>
#include <random>

#include "file_system.h"

namespace kezthumb {
namespace {

std::string Reason(DWORD error) {
  char text[256] = {};
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                     sizeof text, nullptr) == 0)
    return "error " + std::to_string(error);
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
    reason.pop_back();
  return reason;
}

}  // namespace

bool StatFile(const std::filesystem::path& path, FileStamp* stamp, std::string* error) {
  struct _stat64 st {};
  if (_wstat64(path.c_str(), &st) != 0) {
    *error = "cannot read file information";
    return false;
  }
  if ((st.st_mode & _S_IFREG) == 0) {
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
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Reason(GetLastError());
    return false;
  }
  while (*got < size) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + *got, static_cast<DWORD>(size - *got), &n, nullptr)) {
      *error = Reason(GetLastError());
      CloseHandle(file);
      return false;
    }
    if (n == 0) break;
    *got += n;
  }
  CloseHandle(file);
  return true;
}

bool WriteFileAtomically(const std::filesystem::path& path,
                         const std::function<bool(const ByteSink& sink, std::string* error)>& produce, bool,
                         std::string* error) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::filesystem::path temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    wchar_t suffix[24];
    std::swprintf(suffix, 24, L".%016llx.tmp", static_cast<unsigned long long>(random()));
    temp = folder / (L"." + path.filename().wstring() + suffix);
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      *error = Reason(GetLastError());
      return false;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    *error = "no free temporary name";
    return false;
  }
  DWORD failure = 0;
  const ByteSink sink = [file, &failure](const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(file, bytes + done, chunk, &put, nullptr) || put == 0) {
        failure = GetLastError();
        if (failure == 0) failure = ERROR_WRITE_FAULT;
        return false;
      }
      done += put;
    }
    return true;
  };
  std::string reason;
  bool ok = produce(sink, &reason);
  CloseHandle(file);
  if (ok && !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    failure = GetLastError();
  }
  if (!ok) {
    DeleteFileW(temp.c_str());
    *error = failure != 0 ? Reason(failure) : reason;
  }
  return ok;
}

bool MakePrivateDirectories(const std::filesystem::path& path, std::string* error) {
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (code) {
    *error = path.string() + ": " + code.message();
    return false;
  }
  return true;
}

void InstallInterruptCleanup() {}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

std::uint64_t PeakMemoryKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize / 1024;
}

}  // namespace kezthumb
