#include "platform/com.h"
#include "platform/shell.h"

#include <cwchar>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISequentialStream = {0x0c733a30, 0x2a1c, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};
const IID IID_IStream = {0x0000000c, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IInitializeWithStream = {0xb824b49d, 0x22ac, 0x4161, {0xac, 0x8a, 0x99, 0x16, 0xe8, 0xfa, 0x3f, 0x7f}};
const IID IID_IThumbnailProvider = {0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};

HRESULT QISearch(void* that, LPCQITAB table, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  for (LPCQITAB entry = table; entry->piid != nullptr; ++entry) {
    if (IsEqualIID(riid, *entry->piid)) {
      auto* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(that) + entry->dwOffset);
      unknown->AddRef();
      *ppv = unknown;
      return S_OK;
    }
  }
  if (IsEqualIID(riid, IID_IUnknown) && table->piid != nullptr) {
    auto* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(that) + table->dwOffset);
    unknown->AddRef();
    *ppv = unknown;
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  constexpr int kLength = 39;
  if (buffer == nullptr || cchMax < kLength) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  int n = 0;
  auto put = [&](unsigned long long value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) buffer[n++] = kHex[(value >> shift) & 0xF];
  };
  buffer[n++] = L'{';
  put(guid.Data1, 8);
  buffer[n++] = L'-';
  put(guid.Data2, 4);
  buffer[n++] = L'-';
  put(guid.Data3, 4);
  buffer[n++] = L'-';
  put(guid.Data4[0], 2);
  put(guid.Data4[1], 2);
  buffer[n++] = L'-';
  for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
  buffer[n++] = L'}';
  buffer[n++] = L'\0';
  return n;
}
