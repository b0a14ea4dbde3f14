// One thumbnail through the real server road: the class factory, a provider
// from CreateInstance, Initialize with a read-only file stream, GetThumbnail,
// and the DIB it returns turned into RGBA rows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "document_format.h"
#include "platform/com.h"
#include "platform/gdi.h"
#include "platform/shell.h"

namespace kezthumb {

enum class RoadStatus {
  kThumbnail,    // `rgba` holds the picture
  kNoThumbnail,  // the document has none: damaged, unknown format, no preview
  kError,        // the file could not be read, or the machinery failed
};

// A thumbnail's pixels R, G, B, A, top row first, in the memory of the
// section the provider handed out, turned there (a picture of 2560 x 2560
// is 25 MiB: no copy of it is made). The section goes with it.
class RgbaPixels {
 public:
  RgbaPixels() = default;
  RgbaPixels(HBITMAP section, std::uint8_t* pixels) : m_section(section), m_pixels(pixels) {}
  RgbaPixels(RgbaPixels&& other) noexcept { *this = std::move(other); }
  RgbaPixels& operator=(RgbaPixels&& other) noexcept;
  ~RgbaPixels();

  const std::uint8_t* data() const { return m_pixels; }

 private:
  HBITMAP m_section = nullptr;
  std::uint8_t* m_pixels = nullptr;
};

struct RoadResult {
  RoadStatus status = RoadStatus::kError;
  std::string reason;  // one line, for kNoThumbnail and kError
  DocumentFormat format = DocumentFormat::kUnknown;
  int size = 0;
  RgbaPixels rgba;  // size x size pixels
};

// The COM objects of one thread: a page-store factory from DllGetClassObject
// and a packed-kind factory, made on first use and released at the end. Use
// one road per thread; nothing in it is shared.
class ThumbnailRoad {
 public:
  ThumbnailRoad() = default;
  ~ThumbnailRoad();
  ThumbnailRoad(const ThumbnailRoad&) = delete;
  ThumbnailRoad& operator=(const ThumbnailRoad&) = delete;

  // The size x size thumbnail of the document at `path`.
  RoadResult Make(const std::filesystem::path& path, int size);
  // The same over a stream positioned at the document's start (the stream is
  // read, and rewound once after its first bytes; the caller keeps its
  // reference).
  RoadResult MakeFromStream(IStream* stream, int size);

 private:
  IClassFactory* Factory(DocumentFormat format, HRESULT* hr);
  RoadResult Render(IClassFactory* factory, IStream* stream, int size);

  IClassFactory* m_pxvFactory = nullptr;
  IClassFactory* m_packedFactory = nullptr;
};

// The provider's part of the road, for a provider made elsewhere (the
// registered class, through CoCreateInstance): Initialize with `stream`,
// GetThumbnail(size), the DIB read back.
RoadResult RenderWith(IInitializeWithStream* init, IStream* stream, int size);

// "No thumbnail" reasons, fixed texts the tests and users see.
extern const char kNoPreviewReason[];  // the provider found no picture

}  // namespace kezthumb
