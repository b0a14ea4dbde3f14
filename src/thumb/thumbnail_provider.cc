#include "thumb/thumbnail_provider.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "compose/resample.h"
#include "compose/resample_rows.h"
#include "thumb/module_count.h"
#include "thumb/thumbnail_bitmap.h"

namespace {

// The provider's one stream reference for the length of a GetThumbnail:
// given up explicitly where the steps say, or on any exit.
class StreamReference {
 public:
  explicit StreamReference(IStream* stream) : m_stream(stream) {}
  ~StreamReference() { Release(); }
  StreamReference(const StreamReference&) = delete;
  StreamReference& operator=(const StreamReference&) = delete;

  IStream* get() const { return m_stream; }
  void Release() {
    if (m_stream != nullptr) std::exchange(m_stream, nullptr)->Release();
  }

 private:
  IStream* m_stream;
};

// The size FitSize gives a picture in the cx x cx square, a side of 0
// raised to 1, and where it lies: centred, cx halved as unsigned, the
// sides as signed.
struct Fitted {
  std::int32_t width = 1, height = 1, left = 0, top = 0;
};

Fitted FitInto(UINT cx, std::int32_t width, std::int32_t height) {
  lumo::FitResult fit;
  lumo::FitSize(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cx), width, height, fit);
  Fitted f;
  f.width = std::max(fit.width, 1);
  f.height = std::max(fit.height, 1);
  const auto half = static_cast<std::int32_t>(cx / 2);
  f.left = half - f.width / 2;
  f.top = half - f.height / 2;
  return f;
}

// The fitted picture made straight from the rows a reader decodes, into
// its place in the section, where the row resampler serves the picture's
// size; else the reader keeps to the whole image.
class SectionRowsSink final : public PictureRows {
 public:
  SectionRowsSink(UINT cx, std::uint8_t* bits) : m_cx(cx), m_bits(bits) {}

  bool Begin(std::int32_t width, std::int32_t height) override {
    if (m_bits == nullptr || m_resampler || width < 1 || height < 1) return false;
    const Fitted f = FitInto(m_cx, width, height);
    const auto cx = static_cast<std::int32_t>(m_cx);
    if (f.left < 0 || f.top < 0 || f.left + f.width > cx || f.top + f.height > cx ||
        !lumo::RowResampler::Applies(f.width, f.height, width, height))
      return false;
    try {
      m_resampler = std::make_unique<lumo::RowResampler>(
          SectionRows(m_bits, cx, f.left, f.top, f.width, f.height), width, height);
    } catch (const std::bad_alloc&) {
      return false;  // no memory for the rows: the reader keeps to the image
    }
    return true;
  }
  unsigned char* Space(std::size_t* room) override { return m_resampler->Space(room); }
  void Wrote(std::size_t bytes) override { m_resampler->Wrote(bytes); }
  void Finish() override { m_finished = true; }

  // The section holds the reader's picture.
  bool Made() const { return m_finished && m_resampler && m_resampler->Complete(); }

 private:
  UINT m_cx;
  std::uint8_t* m_bits;
  std::unique_ptr<lumo::RowResampler> m_resampler;
  bool m_finished = false;
};

// The picture of the stream, fitted and centred on a transparent cx x cx
// square, as a DIB section in *bitmap. The section is made first, so that
// the rows go straight into it; a picture read whole is resampled and
// copied in. S_OK, S_FALSE when there is no thumbnail, E_OUTOFMEMORY when
// the fitted image cannot get its storage. *bitmapTried tells whether a
// section was asked for after the picture was read.
HRESULT Render(const RowsReader& reader, UINT cx, StreamReference& stream, HBITMAP* bitmap, bool* bitmapTried) {
  if (stream.get() == nullptr) return S_FALSE;
  std::uint8_t* bits = nullptr;
  *bitmap = CreateThumbnailSection(static_cast<int>(cx), &bits);
  if (bits == nullptr) {
    if (*bitmap != nullptr) DeleteObject(std::exchange(*bitmap, nullptr));
    // As when the square was an image of its own: no memory for it is no
    // memory at all.
    lumo::CImage32 square;
    if (!square.Resize(static_cast<int>(cx), static_cast<int>(cx))) return E_OUTOFMEMORY;
  }
  SectionRowsSink rows(cx, bits);
  lumo::CImage32 document;
  if (!reader(document, stream.get(), rows)) {
    stream.Release();
    return S_FALSE;
  }
  if (!rows.Made()) {
    const Fitted f = FitInto(cx, document.m_width, document.m_height);
    lumo::CImage32 fitted;
    if (!fitted.Resize(f.width, f.height)) return E_OUTOFMEMORY;
    lumo::Resample(fitted, document);
    stream.Release();
    if (bits == nullptr) {
      // No section before: it is asked for once more, as it would be made
      // after the reading.
      *bitmapTried = true;
      *bitmap = CreateThumbnailSection(static_cast<int>(cx), &bits);
      if (bits == nullptr) return S_FALSE;
    }
    lumo::ImageLock lock(&fitted);
    CopyIntoSection(fitted, static_cast<int>(cx), f.left, f.top, bits);
  }
  stream.Release();
  return S_OK;
}

}  // namespace

TeskThumbnailProvider::TeskThumbnailProvider(DocumentReader reader)
    : m_reader([whole = std::move(reader)](lumo::CImage32& image, IStream* stream, PictureRows&) {
        return whole(image, stream);
      }) {
  InterlockedIncrement(&g_moduleCount);
}

TeskThumbnailProvider::TeskThumbnailProvider(RowsReader reader) : m_reader(std::move(reader)) {
  InterlockedIncrement(&g_moduleCount);
}

TeskThumbnailProvider::~TeskThumbnailProvider() {
  // A provider that never rendered still holds its stream reference.
  if (m_stream != nullptr) std::exchange(m_stream, nullptr)->Release();
  InterlockedDecrement(&g_moduleCount);
}

HRESULT TeskThumbnailProvider::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  static const QITAB kInterfaces[] = {
      {&IID_IThumbnailProvider, static_cast<int>(OFFSETOFCLASS(IThumbnailProvider, TeskThumbnailProvider))},
      {&IID_IInitializeWithStream, static_cast<int>(OFFSETOFCLASS(IInitializeWithStream, TeskThumbnailProvider))},
      {nullptr, 0},
  };
  return QISearch(this, kInterfaces, riid, ppv);
}

ULONG TeskThumbnailProvider::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG TeskThumbnailProvider::Release() {
  const LONG count = InterlockedDecrement(&m_refCount);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT TeskThumbnailProvider::Initialize(IStream* stream, DWORD) {
  if (m_state != StreamState::None) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
  if (stream == nullptr) return E_INVALIDARG;
  try {
    IStream* held = nullptr;
    const HRESULT hr = stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(&held));
    // Whatever a failing stream left in `held` is not ours to keep.
    if (FAILED(hr)) return hr;
    if (held == nullptr) return E_NOINTERFACE;
    m_stream = held;
    m_state = StreamState::Held;
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT TeskThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* phbmp, WTS_ALPHATYPE* pdwAlpha) {
  if (phbmp == nullptr || pdwAlpha == nullptr) return E_POINTER;
  // This call uses the stream up: whatever happens below, the provider
  // holds it no longer, and a later call finds no stream.
  StreamReference stream(std::exchange(m_stream, nullptr));
  if (m_state == StreamState::Held) m_state = StreamState::GivenUp;

  HBITMAP bitmap = nullptr;
  bool bitmapTried = false;
  HRESULT hr = S_FALSE;
  try {
    hr = Render(m_reader, cx, stream, &bitmap, &bitmapTried);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    // A reader's (or anyone's) exception means there is no thumbnail.
    hr = S_FALSE;
  }
  stream.Release();
  if (hr == S_OK) {
    *phbmp = bitmap;
    *pdwAlpha = WTSAT_ARGB;
    return S_OK;
  }
  // A section without pixels (or one left by an exception) is not handed
  // out with a result that says there is no thumbnail.
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (hr == S_FALSE && bitmapTried) *phbmp = nullptr;
  return hr;
}
