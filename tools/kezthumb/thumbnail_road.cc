#include "thumbnail_road.h"

#include <cstdio>
#include <new>

#include "dll/class_factory.h"
#include "dll/module.h"
#include "dib_pixels.h"
#include "stream_open.h"
#include "platform/shell.h"

namespace kezthumb {

const char kNoPreviewReason[] = "damaged document or no preview stored in it";

namespace {

std::string HresultText(const char* what, HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (0x%08X)", what, static_cast<unsigned>(hr));
  return text;
}

RoadResult Failure(RoadStatus status, std::string reason, DocumentFormat format = DocumentFormat::kUnknown) {
  RoadResult result;
  result.status = status;
  result.reason = std::move(reason);
  result.format = format;
  return result;
}

// Releases a COM pointer at the end of a scope.
template <typename T>
class ComRef {
 public:
  ~ComRef() {
    if (m_p != nullptr) m_p->Release();
  }
  T** Out() { return &m_p; }
  void** OutVoid() { return reinterpret_cast<void**>(&m_p); }
  T* operator->() const { return m_p; }
  T* Get() const { return m_p; }

 private:
  T* m_p = nullptr;
};

}  // namespace

RgbaPixels& RgbaPixels::operator=(RgbaPixels&& other) noexcept {
  if (this != &other) {
    if (m_section != nullptr) DeleteObject(m_section);
    m_section = std::exchange(other.m_section, nullptr);
    m_pixels = std::exchange(other.m_pixels, nullptr);
  }
  return *this;
}

RgbaPixels::~RgbaPixels() {
  if (m_section != nullptr) DeleteObject(m_section);
}

ThumbnailRoad::~ThumbnailRoad() {
  if (m_pxvFactory != nullptr) m_pxvFactory->Release();
  if (m_packedFactory != nullptr) m_packedFactory->Release();
}

IClassFactory* ThumbnailRoad::Factory(DocumentFormat format, HRESULT* hr) {
  *hr = S_OK;
  if (format == DocumentFormat::kPacked) {
    // The registered class binds ".kez" only; the packed kind is made here as
    // the module makes its own factories.
    if (m_packedFactory == nullptr) {
      m_packedFactory = new (std::nothrow) ClassFactory(ClassFactory::kPackedKind);
      if (m_packedFactory == nullptr) *hr = E_OUTOFMEMORY;
    }
    return m_packedFactory;
  }
  if (m_pxvFactory == nullptr) {
    *hr = DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&m_pxvFactory));
    if (FAILED(*hr)) m_pxvFactory = nullptr;
  }
  return m_pxvFactory;
}

RoadResult ThumbnailRoad::Render(IClassFactory* factory, IStream* stream, int size) {
  ComRef<IInitializeWithStream> init;
  const HRESULT hr = factory->CreateInstance(nullptr, IID_IInitializeWithStream, init.OutVoid());
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("CreateInstance", hr));
  return RenderWith(init.Get(), stream, size);
}

RoadResult RenderWith(IInitializeWithStream* init, IStream* stream, int size) {
  HRESULT hr = init->Initialize(stream, STGM_READ);
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("Initialize", hr));
  ComRef<IThumbnailProvider> provider;
  hr = init->QueryInterface(IID_IThumbnailProvider, provider.OutVoid());
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("QueryInterface", hr));

  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  hr = provider->GetThumbnail(static_cast<UINT>(size), &bitmap, &alpha);
  if (hr == S_FALSE) {
    // A failed bitmap may still have left a handle behind.
    if (bitmap != nullptr) DeleteObject(bitmap);
    return Failure(RoadStatus::kNoThumbnail, kNoPreviewReason);
  }
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("GetThumbnail", hr));
  RoadResult result;
  result.status = RoadStatus::kThumbnail;
  result.size = size;
  std::uint8_t* pixels = DibToRgba(bitmap, size, alpha == WTSAT_RGB);
  result.rgba = RgbaPixels(bitmap, pixels);
  if (pixels == nullptr)
    return Failure(RoadStatus::kError, "the thumbnail bitmap is not a 32-bit section of the asked size");
  return result;
}

RoadResult ThumbnailRoad::MakeFromStream(IStream* stream, int size) {
  std::uint8_t head[kSniffBytes] = {};
  ULONG got = 0;
  HRESULT hr = stream->Read(head, sizeof head, &got);
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("reading", hr));
  const DocumentFormat format = SniffFormat(head, got);
  const std::string unsupported = UnsupportedReason(format, head, got);
  if (!unsupported.empty()) return Failure(RoadStatus::kNoThumbnail, unsupported, format);
  LARGE_INTEGER start{};
  hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return Failure(RoadStatus::kError, HresultText("rewinding", hr), format);

  IClassFactory* factory = Factory(format, &hr);
  if (factory == nullptr) return Failure(RoadStatus::kError, HresultText("DllGetClassObject", hr), format);
  RoadResult result;
  // Nothing may escape from the server's side; the provider should catch
  // everything itself, this is the last line.
  try {
    result = Render(factory, stream, size);
  } catch (const std::bad_alloc&) {
    result = Failure(RoadStatus::kError, "out of memory");
  } catch (...) {
    result = Failure(RoadStatus::kNoThumbnail, kNoPreviewReason);
  }
  result.format = format;
  return result;
}

RoadResult ThumbnailRoad::Make(const std::filesystem::path& path, int size) {
  std::string error;
  IStream* stream = OpenReadStream(path, &error);
  if (stream == nullptr) return Failure(RoadStatus::kError, error);
  RoadResult result = MakeFromStream(stream, size);
  stream->Release();
  return result;
}

}  // namespace kezthumb
