// The COM object the shell asks for one file's thumbnail: it receives the
// file as a stream, runs its document reader, fits and centres the picture
// on a transparent square and hands the square back as a DIB section.
#pragma once

#include <functional>

#include "lumo/image.h"
#include "platform/shell.h"
#include "thumb/picture_rows.h"

// Reads the document from the stream's current position into `image` (which
// arrives 1x1) at the picture's own size; false when there is no picture.
// May throw: the provider keeps exceptions from crossing the COM boundary.
using DocumentReader = std::function<bool(lumo::CImage32& image, IStream* stream)>;
// The same, offered the rows of its picture as well: a reader that hands
// the picture over through `rows` (and finishes it) leaves `image` alone.
using RowsReader = std::function<bool(lumo::CImage32& image, IStream* stream, PictureRows& rows)>;

// Interface pointer 1 is IInitializeWithStream (the object's own address),
// interface pointer 2 IThumbnailProvider. Created with a reference count of 1
// and counted in g_moduleCount until the last Release destroys it.
class TeskThumbnailProvider final : public IInitializeWithStream, public IThumbnailProvider {
 public:
  explicit TeskThumbnailProvider(DocumentReader reader);
  explicit TeskThumbnailProvider(RowsReader reader);
  TeskThumbnailProvider(const TeskThumbnailProvider&) = delete;
  TeskThumbnailProvider& operator=(const TeskThumbnailProvider&) = delete;

  // IUnknown: IThumbnailProvider, then IInitializeWithStream; IUnknown is
  // answered with IThumbnailProvider.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IInitializeWithStream: keeps one reference to the stream. Only the first
  // successful call counts; every later one gives
  // HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED). A null stream gives
  // E_INVALIDARG; a failing QueryInterface of the stream its HRESULT (and a
  // later call may try again).
  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, DWORD grfMode) override;

  // IThumbnailProvider: S_OK with a cx x cx bottom-up 32-bit DIB and
  // WTSAT_ARGB; S_FALSE when there is no thumbnail (no stream, the reader
  // found no picture or threw, the bitmap could not be made) with nothing
  // written; E_OUTOFMEMORY when memory ran out; E_POINTER for null out
  // pointers. The stream reference is given up by the first call that gets
  // past the pointer checks; later calls give S_FALSE.
  HRESULT STDMETHODCALLTYPE GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) override;

 private:
  ~TeskThumbnailProvider();

  enum class StreamState { None, Held, GivenUp };

  RowsReader m_reader;
  LONG m_refCount = 1;
  IStream* m_stream = nullptr;
  // Initialize succeeds once per object, also after the stream is given up.
  StreamState m_state = StreamState::None;
};
