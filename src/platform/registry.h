// The registry, as registration uses it: keys and string values under
// HKEY_CLASSES_ROOT and HKEY_CURRENT_USER. On Windows this is the SDK; elsewhere an in-process
// registry with the same functions and results (empty at start, gone at exit).
#pragma once

#include "platform/kernel.h"

#ifndef _WIN32

#include <cstdint>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Sign-extended, as the SDK defines them. The current user's root is kept
// here as the key "HKEY_CURRENT_USER" at the top of the one tree, so tests
// see both; there is no merged view of the two.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000000u))))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u))))

constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// Key names and value names compare without regard to ASCII case; a null or
// empty value name is the key's default value. Values keep exactly the bytes
// given. (Windows also stores the terminator of string data whose count left
// it out, when it follows in memory; reading past the caller's count is not
// copied here. The Windows tests check the real registry's byte counts.) Missing keys and values give ERROR_FILE_NOT_FOUND.
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
// With lpData null only the size is reported; a buffer smaller than the value
// gives ERROR_MORE_DATA with the size needed in *lpcbData and the buffer
// untouched. No terminator is added to string data.
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegCloseKey(HKEY hKey);
// Deletes the subkey with all its subkeys and values; with a null subkey,
// everything below hKey (the key itself stays).
LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

#endif  // _WIN32
