// The shell's side of a thumbnail handler: the provider interfaces, stream
// creation and change notification.
#pragma once

#include "platform/com.h"
#include "platform/gdi.h"

#ifdef _WIN32
#include <shlobj.h>
#include <shlwapi.h>
#include <thumbcache.h>
#include <propsys.h>
#else

enum WTS_ALPHATYPE { WTSAT_UNKNOWN = 0, WTSAT_RGB = 1, WTSAT_ARGB = 2 };

extern const IID IID_IInitializeWithStream;
extern const IID IID_IThumbnailProvider;

struct IInitializeWithStream : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(IStream* pstream, DWORD grfMode) = 0;
};

struct IThumbnailProvider : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) = 0;
};

// A read/write stream over a copy of `init` (cb bytes), positioned at 0; null
// when memory runs out.
IStream* SHCreateMemStream(const BYTE* init, UINT cb);

// A stream over the file at `path`. With STGM_CREATE (and fCreate) the file is
// created or truncated; otherwise it must exist (STG_E_FILENOTFOUND or
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)). *ppstm is null on failure.
HRESULT SHCreateStreamOnFileEx(LPCWSTR path, DWORD grfMode, DWORD dwAttributes, BOOL fCreate,
                               IStream* pstmTemplate, IStream** ppstm);

constexpr LONG SHCNE_ASSOCCHANGED = 0x08000000;
constexpr UINT SHCNF_IDLIST = 0x0000;
void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2);

#endif  // _WIN32
