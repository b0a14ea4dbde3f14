// Files and file mapping, as the paged allocator's swap file uses them. On
// Windows this is the SDK; elsewhere stand-ins over POSIX files and mmap.
#pragma once

#include "platform/kernel.h"

#ifndef _WIN32

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_END = 2;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_FILE_INVALID = 1006;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;
constexpr DWORD ERROR_USER_MAPPED_FILE = 1224;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  WCHAR cFileName[MAX_PATH];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

// TMPDIR, else the user's private /tmp/lumo-<uid> or, when that name is
// taken by anything else, a fresh private folder made for the call; with a
// trailing '/'. As on Windows: the length without the terminator, the size
// needed (with it) when `size` is too small, or 0 on failure.
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// Only whether a file exists at exactly that name (no wildcards).
HANDLE FindFirstFileW(LPCWSTR name, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
// As on Windows, a file that any process holds open through CreateFileW
// cannot be deleted (ERROR_SHARING_VIOLATION): no handle here shares
// deletion.
BOOL DeleteFileW(LPCWSTR name);
// The share mode holds the file against other handles, of this process or
// another, as FILE_SHARE_READ or none does on Windows: a writer alone,
// readers together; a conflicting open is ERROR_SHARING_VIOLATION.
// Windows' temporary folder is its user's alone, a shared one here is not:
// only a regular file of the user's own with no other name is opened, and a
// link, another user's file or a second name is ERROR_ACCESS_DENIED.
// Attributes and templates are accepted and not enforced.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD creation,
                   DWORD flags, HANDLE templateFile);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method);
// Growing reserves the disk blocks, as Windows does, so that a full disk
// fails here and not later as a fault in a mapped view; past the file-size
// limit it fails as on a full disk too (ERROR_DISK_FULL). As on Windows, a
// file with a mapped view cannot be cut short (ERROR_USER_MAPPED_FILE).
BOOL SetEndOfFile(HANDLE file);
// Only unnamed read/write mappings of a file; a maximum of 0 is the file's
// size now, which must not be 0.
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumHigh,
                          DWORD maximumLow, LPCWSTR name);
// As on Windows, the offset is a multiple of the 64 KiB allocation grain
// (else ERROR_MAPPED_ALIGNMENT) and the view lies within the mapping (else
// ERROR_ACCESS_DENIED).
LPVOID MapViewOfFileEx(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes,
                       LPVOID baseAddress);
BOOL UnmapViewOfFile(LPCVOID address);
BOOL CloseHandle(HANDLE object);

#endif  // _WIN32
