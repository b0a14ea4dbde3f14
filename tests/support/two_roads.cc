#include "support/two_roads.h"

// The DIB is read back through the Linux stand-ins; the Windows test build
// (the paged tests alone) does without.
#ifndef _WIN32

#include "dll/class_factory.h"
#include "formats/packed/packed_reader.h"
#include "formats/pxv/pxv_reader.h"
#include "platform/testing.h"
#include "thumb/thumbnail_provider.h"

namespace kez::testing {
namespace {

RoadAnswer Ask(IThumbnailProvider* provider, IStream* stream, UINT cx) {
  RoadAnswer answer;
  IInitializeWithStream* init = nullptr;
  provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
  init->Initialize(stream, STGM_READ);
  init->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  const int notices = platform::testing::NoticeCount();
  answer.hr = provider->GetThumbnail(cx, &bitmap, &alpha);
  answer.notices = platform::testing::NoticeCount() - notices;
  provider->Release();
  if (answer.hr != S_OK) return answer;
  if (const auto dib = platform::testing::ReadDib(bitmap)) answer.bits.assign(dib->bits, dib->bits + dib->size);
  DeleteObject(bitmap);
  return answer;
}

}  // namespace

RoadAnswer ThumbnailByRows(std::int32_t kind, IStream* stream, UINT cx) {
  auto* factory = new ClassFactory(kind);
  IThumbnailProvider* provider = nullptr;
  factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
  factory->Release();
  return provider != nullptr ? Ask(provider, stream, cx) : RoadAnswer{};
}

RoadAnswer ThumbnailWhole(std::int32_t kind, IStream* stream, UINT cx) {
  bool (*whole)(lumo::CImage32&, IStream*) = ReadPackedDocument;
  if (kind == ClassFactory::kPxvKind) whole = ReadPxvDocument;
  return Ask(new TeskThumbnailProvider(DocumentReader(whole)), stream, cx);
}

bool RecordedRows::Begin(std::int32_t w, std::int32_t h) {
  width = w;
  height = h;
  ++begun;
  return true;
}

unsigned char* RecordedRows::Space(std::size_t* room) {
  *room = m_piece;
  return m_space.data();
}

void RecordedRows::Wrote(std::size_t n) { bytes.insert(bytes.end(), m_space.begin(), m_space.begin() + n); }

}  // namespace kez::testing

#endif  // _WIN32
