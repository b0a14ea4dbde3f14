#include "thumb/thumbnail_provider.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "compose/draw.h"
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

// The drawing record for placing the preview: a plain copy.
lumo::DrawParams PlacementParams() {
  lumo::DrawParams params;
  params.tag = -1;
  params.mode = static_cast<std::int32_t>(lumo::BlendMode::Copy);
  params.opacity = 255;
  params.gamma = 0;
  params.fillColour = 0xFF000000u;
  params.keyColour = 0;
  params.carried0 = 0;
  params.carried1 = 1;
  params.carried2 = 0;
  params.carried3 = 1;
  params.carried4 = 255;
  params.carried5 = 0;
  params.carried6 = 0;
  std::fill(std::begin(params.carried7), std::end(params.carried7), 0);
  return params;
}

// The size FitSize gives a picture in the cx x cx square, a side of 0
// raised to 1.
void FittedSize(int edge, std::int32_t width, std::int32_t height, std::int32_t* w, std::int32_t* h) {
  lumo::FitResult fit;
  lumo::FitSize(edge, edge, width, height, fit);
  *w = std::max(fit.width, 1);
  *h = std::max(fit.height, 1);
}

// The fitted image made straight from the rows a reader decodes, where the
// row-by-row resampler serves the picture's size; else the reader keeps to
// the whole image.
class FittedRows final : public PictureRows {
 public:
  FittedRows(int edge, lumo::CImage32& fitted) : m_edge(edge), m_fitted(fitted) {}

  bool Begin(std::int32_t width, std::int32_t height) override {
    if (m_resampler || width < 1 || height < 1) return false;
    std::int32_t w = 0, h = 0;
    FittedSize(m_edge, width, height, &w, &h);
    if (!m_fitted.Resize(w, h) || !lumo::RowResampler::Applies(m_fitted, width, height)) return false;
    try {
      m_resampler = std::make_unique<lumo::RowResampler>(m_fitted, width, height);
    } catch (const std::bad_alloc&) {
      return false;  // no memory for the rows: the reader keeps to the image
    }
    return true;
  }
  unsigned char* Space(std::size_t* room) override { return m_resampler->Space(room); }
  void Wrote(std::size_t bytes) override { m_resampler->Wrote(bytes); }
  void Finish() override { m_finished = true; }

  // The fitted image holds the reader's picture.
  bool Made() const { return m_finished && m_resampler && m_resampler->Complete(); }

 private:
  int m_edge;
  lumo::CImage32& m_fitted;
  std::unique_ptr<lumo::RowResampler> m_resampler;
  bool m_finished = false;
};

// The picture of the stream, fitted and centred on a transparent cx x cx
// square, as a DIB section in *bitmap. S_OK, S_FALSE when there is no
// thumbnail, E_OUTOFMEMORY when an image cannot get its storage.
// *bitmapTried tells whether a section was asked for.
HRESULT Render(const RowsReader& reader, UINT cx, StreamReference& stream, HBITMAP* bitmap,
               bool* bitmapTried) {
  const int edge = static_cast<int>(cx);
  lumo::CImage32 output;
  if (!output.Resize(edge, edge)) return E_OUTOFMEMORY;
  {
    lumo::ImageLock lock(&output);
    std::uint32_t* pixels = output.RowAddress(0);
    if (pixels != nullptr)
      std::memset(pixels, 0,
                  static_cast<std::size_t>(output.m_width) * static_cast<std::size_t>(output.m_height) * 4);
  }
  if (stream.get() == nullptr) return S_FALSE;

  {
    lumo::CImage32 document;
    lumo::CImage32 fitted;
    FittedRows rows(edge, fitted);
    if (!reader(document, stream.get(), rows)) {
      stream.Release();
      return S_FALSE;
    }
    if (!rows.Made()) {
      std::int32_t w = 0, h = 0;
      FittedSize(edge, document.m_width, document.m_height, &w, &h);
      if (!fitted.Resize(w, h)) return E_OUTOFMEMORY;
      lumo::Resample(fitted, document);
    }
    const std::int32_t w = fitted.m_width;
    const std::int32_t h = fitted.m_height;
    const auto half = static_cast<std::int32_t>(cx / 2);
    lumo::DrawImage(output, PlacementParams(), half - w / 2, half - h / 2, fitted, w, h);
    stream.Release();
  }

  lumo::ImageLock lock(&output);
  *bitmapTried = true;
  return CreateThumbnailBitmap(output, edge, bitmap) ? S_OK : S_FALSE;
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
