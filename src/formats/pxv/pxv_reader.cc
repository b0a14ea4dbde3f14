#include "formats/pxv/pxv_reader.h"

#include <cstring>
#include <stdexcept>

#include "formats/pxv/document_reader.h"
#include "formats/pxv/page_store.h"
#include "platform/gdi.h"

namespace {

bool ReadDocument(lumo::CImage32& image, IStream* stream, PictureRows* rows) {
  // "pxv" and a version of at most 1, taken signed: 0x80..0xFF pass.
  unsigned char magic[4] = {};
  ULONG got = 0;
  if (FAILED(stream->Read(magic, 4, &got)) || got != 4) return false;
  if (std::memcmp(magic, "pxv", 3) != 0 || static_cast<std::int8_t>(magic[3]) > 1) return false;

  try {
    DocumentContext context(pagestore::OpenPageStore(stream));
    return ExtractThumbnail(image, context, rows);
  } catch (const std::runtime_error&) {
    // The store, the pool and every buffer are gone by now.
  }
  MessageBoxW(nullptr, L"throw error!", L"xxx", MB_ICONINFORMATION);
  image.Resize(64, 64);
  image.FillChecker(image.m_width, image.m_height, lumo::kWhite, lumo::kCheckerGrey);
  return false;
}

}  // namespace

bool ReadPxvDocument(lumo::CImage32& image, IStream* stream) { return ReadDocument(image, stream, nullptr); }

bool ReadPxvDocument(lumo::CImage32& image, IStream* stream, PictureRows& rows) {
  return ReadDocument(image, stream, &rows);
}
