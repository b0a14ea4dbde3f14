// The pieces self-registration is built from: bounded key-path formatting
// and the two registry accesses under HKEY_CLASSES_ROOT.
#pragma once

#include <cstddef>

#include "platform/com.h"
#include "platform/registry.h"

// Key paths and the association text live in buffers of this many WCHARs.
constexpr std::size_t kKeyPathCapacity = MAX_PATH;

// Bounded formatting with the contract of StringCchPrintfW, for "%s" (a
// WCHAR string) and "%%" only: a capacity of 0 or above 0x7FFFFFFF gives
// E_INVALIDARG (and an empty buffer when the capacity is not 0), as does any
// other conversion or a null argument; otherwise at most capacity - 1
// characters are written and the buffer is always terminated; a text that
// does not fit gives STRSAFE_E_INSUFFICIENT_BUFFER with the text cut short.
HRESULT FormatKeyPath(LPWSTR buffer, std::size_t capacity, LPCWSTR format, ...);

// Creates or opens HKEY_CLASSES_ROOT\subkey and, when text is not null, sets
// valueName (null: the default value) to text as REG_SZ without its
// terminator. The result is the create's failure, else the set's result.
HRESULT WriteStringValue(LPCWSTR subkey, LPCWSTR valueName, LPCWSTR text);
// The same under another root key.
HRESULT WriteStringValue(HKEY root, LPCWSTR subkey, LPCWSTR valueName, LPCWSTR text);

// The default value of HKEY_CLASSES_ROOT\.kez, terminated, into a buffer of
// kKeyPathCapacity WCHARs. A value that fills the whole buffer without a
// terminator is as unreadable as a longer one: HRESULT_FROM_WIN32(ERROR_MORE_DATA).
HRESULT ReadAssociation(LPWSTR buffer);
