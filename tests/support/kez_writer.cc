#include "support/kez_writer.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <stdexcept>

#include "formats/pxv/doc_root_generated.h"

namespace kez::testing {

namespace {

void PutU64(std::vector<std::uint8_t>& page, std::size_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) page[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t Mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

// ------------------------------------------------------------------ pictures

std::vector<std::uint8_t> KezPicture::Bytes() const {
  std::vector<std::uint8_t> bytes(pixels.size() * 4);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(pixels[i] >> (8 * b));
  return bytes;
}

KezPicture TestPicture(int width, int height, std::uint32_t seed) {
  KezPicture picture{width, height, {}};
  picture.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t noise = Mix(seed * 0x9E3779B9U + static_cast<std::uint32_t>(y * width + x));
      const std::uint32_t a = 0x80 | (noise & 0x7F);
      const std::uint32_t r = static_cast<std::uint32_t>(x * 255 / std::max(1, width - 1));
      const std::uint32_t g = static_cast<std::uint32_t>(y * 255 / std::max(1, height - 1));
      const std::uint32_t b = (noise >> 8) & 0xFF;
      picture.pixels[static_cast<std::size_t>(y) * width + x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  return picture;
}

// ------------------------------------------------------------------ document

std::vector<std::uint8_t> KezDocument::Bytes() const {
  std::vector<std::uint8_t> bytes(Size(), 0);
  for (const auto& [fidx, page] : pages) {
    const std::uint64_t start = fidx * kKezPageSize;
    if (start >= bytes.size()) continue;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(page.size(), bytes.size() - start));
    std::memcpy(bytes.data() + start, page.data(), n);
  }
  return bytes;
}

std::uint8_t KezDocument::ByteAt(std::uint64_t offset) const {
  auto it = pages.find(offset / kKezPageSize);
  return it == pages.end() || it->second.size() <= offset % kKezPageSize ? 0 : it->second[offset % kKezPageSize];
}

std::uint64_t KezDocument::FidxOf(std::int64_t vidx) const {
  auto it = map.find(vidx);
  if (it == map.end()) throw std::out_of_range("vidx not mapped");
  return it->second;
}

std::uint64_t KezDocument::MapEntryOffset(std::int64_t vidx) const {
  if (vidx < kHeaderMapEntries) return HeaderOffset(currentHeader) + 36 + 16 * static_cast<std::uint64_t>(vidx);
  const std::uint64_t j = static_cast<std::uint64_t>(vidx - kHeaderMapEntries);
  return continuationFidx.at(j / kContinuationMapEntries) * kKezPageSize + 24 + 16 * (j % kContinuationMapEntries);
}

std::uint64_t KezDocument::ContentOffset(const KezStreamLayout& stream, std::uint64_t contentOffset) const {
  if (stream.isInline) return PageOffset(stream.headVidx) + 9 + contentOffset;
  return PageOffset(stream.dataVidx.at(contentOffset / kKezPageSize)) + contentOffset % kKezPageSize;
}

std::vector<std::uint8_t>& KezDocument::PageFor(std::uint64_t offset) {
  auto& page = pages[offset / kKezPageSize];
  if (page.size() < kKezPageSize) page.resize(kKezPageSize, 0);
  return page;
}

void KezDocument::PatchU8(std::uint64_t offset, std::uint8_t value) { PageFor(offset)[offset % kKezPageSize] = value; }

void KezDocument::PatchU32(std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) PatchU8(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

void KezDocument::PatchU64(std::uint64_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) PatchU8(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

void KezDocument::PatchBytes(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) PatchU8(offset + i, bytes[i]);
}

void KezDocument::PatchContent(const KezStreamLayout& stream, std::uint64_t contentOffset,
                               const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) PatchU8(ContentOffset(stream, contentOffset + i), bytes[i]);
}

void KezDocument::Truncate(std::uint64_t size) {
  pageCount = size / kKezPageSize;
  tailBytes = size % kKezPageSize;
  for (auto it = pages.begin(); it != pages.end();) {
    if (it->first > pageCount || (it->first == pageCount && tailBytes == 0))
      it = pages.erase(it);
    else
      ++it;
  }
}

// -------------------------------------------------------------------- stream

KezStream::KezStream(const KezDocument& document)
    : TestStream({}), m_pages(document.pages), m_size(document.Size()) {}

KezStream::KezStream(KezDocument&& document)
    : TestStream({}), m_pages(std::move(document.pages)), m_size(document.Size()) {}

void KezStream::CopyContent(std::uint64_t offset, std::uint8_t* out, std::uint64_t count) const {
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    const std::uint64_t o = at % kKezPageSize;
    const std::uint64_t take = std::min<std::uint64_t>(kKezPageSize - o, count - done);
    auto it = m_pages.find(at / kKezPageSize);
    const std::uint64_t stored = it == m_pages.end() || it->second.size() <= o ? 0 : std::min<std::uint64_t>(take, it->second.size() - o);
    if (stored != 0) std::memcpy(out + done, it->second.data() + o, stored);
    std::memset(out + done + stored, 0, take - stored);
    done += take;
  }
}

// ------------------------------------------------------------------- builder

std::int64_t KezBuilder::NewVidx() {
  while (m_pages.count(m_nextVidx) != 0) ++m_nextVidx;
  const std::int64_t vidx = m_nextVidx++;
  m_pages[vidx] = {};
  return vidx;
}

void KezBuilder::PutPage(std::int64_t vidx, std::vector<std::uint8_t> page) {
  if (page.size() > kKezPageSize) throw std::length_error("page larger than 65536 bytes");
  page.resize(kKezPageSize, 0);
  m_pages[vidx] = std::move(page);
}

KezStreamLayout KezBuilder::AddStream(std::int64_t headVidx, const std::vector<std::uint8_t>& content,
                                      const StreamOptions& options) {
  KezStreamLayout layout;
  layout.headVidx = headVidx;
  layout.length = options.declaredLength.value_or(content.size());
  m_pages[headVidx] = {};  // reserved before any data page takes a vidx
  std::vector<std::uint8_t> head(kKezPageSize, 0);
  PutU64(head, 1, layout.length);

  const bool fits = content.size() <= kInlineCapacity;
  layout.isInline = options.kind == StreamKind::Inline || (options.kind == StreamKind::Auto && fits);
  if (layout.isInline) {
    head[0] = 1;
    if (!content.empty())
      std::memcpy(head.data() + 9, content.data(), std::min<std::size_t>(content.size(), kInlineCapacity));
    PutPage(headVidx, std::move(head));
    return layout;
  }

  head[0] = options.pagedKindByte;
  const std::uint64_t dataPages = (content.size() + kKezPageSize - 1) / kKezPageSize;
  for (std::uint64_t d = 0; d < dataPages; ++d) {
    const std::int64_t vidx = NewVidx();
    const std::size_t start = static_cast<std::size_t>(d * kKezPageSize);
    const std::size_t n = std::min<std::size_t>(kKezPageSize, content.size() - start);
    PutPage(vidx, std::vector<std::uint8_t>(content.begin() + start, content.begin() + start + n));
    layout.dataVidx.push_back(vidx);
  }
  std::uint64_t extensions = 0;
  if (dataPages > static_cast<std::uint64_t>(kHeadDataEntries))
    extensions = (dataPages - kHeadDataEntries + kExtensionDataEntries - 1) / kExtensionDataEntries;
  extensions += static_cast<std::uint64_t>(options.extraExtensionPages);
  for (std::uint64_t e = 0; e < extensions; ++e) layout.extensionVidx.push_back(NewVidx());

  PutU64(head, 9, layout.extensionVidx.empty() ? ~0ULL : static_cast<std::uint64_t>(layout.extensionVidx[0]));
  for (std::uint64_t d = 0; d < std::min<std::uint64_t>(dataPages, kHeadDataEntries); ++d)
    PutU64(head, 17 + 8 * d, static_cast<std::uint64_t>(layout.dataVidx[d]));
  for (std::uint64_t e = 0; e < extensions; ++e) {
    std::vector<std::uint8_t> page(kKezPageSize, 0);
    PutU64(page, 0, e + 1 < extensions ? static_cast<std::uint64_t>(layout.extensionVidx[e + 1]) : ~0ULL);
    for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(kExtensionDataEntries); ++k) {
      const std::uint64_t d = kHeadDataEntries + e * kExtensionDataEntries + k;
      if (d >= dataPages) break;
      PutU64(page, 8 + 8 * k, static_cast<std::uint64_t>(layout.dataVidx[d]));
    }
    PutPage(layout.extensionVidx[e], std::move(page));
  }
  PutPage(headVidx, std::move(head));
  return layout;
}

KezDocument KezBuilder::Finish(const KezStoreOptions& options) const {
  KezDocument document;
  const std::int64_t maxVidx = m_pages.empty() ? 0 : m_pages.rbegin()->first;
  std::uint64_t continuation = 0;
  if (maxVidx >= kHeaderMapEntries)
    continuation = (static_cast<std::uint64_t>(maxVidx) - kHeaderMapEntries) / kContinuationMapEntries + 1;
  continuation = std::max<std::uint64_t>(continuation, static_cast<std::uint64_t>(options.minContinuationPages));

  // Physical pages after the two headers: continuation pages, the vidx
  // pages, and free ones, in shuffled order.
  const std::uint64_t slots = continuation + m_pages.size() + static_cast<std::uint64_t>(options.freePages);
  std::vector<std::uint64_t> fidx(slots);
  std::iota(fidx.begin(), fidx.end(), 2);
  if (options.shuffle) {
    std::mt19937 random(options.seed);
    std::shuffle(fidx.begin(), fidx.end(), random);
  }
  std::size_t next = 0;
  for (std::uint64_t c = 0; c < continuation; ++c) document.continuationFidx.push_back(fidx[next++]);
  for (const auto& [vidx, page] : m_pages) document.map[vidx] = fidx[next++];
  if (options.shuffle && document.map.size() > 1) {
    // No vidx keeps its own number as fidx, so a reader that skips the map
    // always reads a wrong page.
    for (int pass = 0; pass < 4; ++pass)
      for (auto it = document.map.begin(); it != document.map.end(); ++it) {
        if (static_cast<std::uint64_t>(it->first) != it->second) continue;
        auto other = std::next(it) == document.map.end() ? document.map.begin() : std::next(it);
        std::swap(it->second, other->second);
      }
  }
  document.pageCount = std::max<std::uint64_t>(2 + slots, options.minPageCount);

  for (const auto& [vidx, page] : m_pages) {
    std::vector<std::uint8_t> bytes = page;
    bytes.resize(kKezPageSize, 0);
    document.pages[document.map[vidx]] = std::move(bytes);
  }

  document.currentHeader = options.counter0 > options.counter1 ? 0 : 1;
  for (int h = 0; h < 2; ++h) {
    std::vector<std::uint8_t> header(kKezPageSize, 0);
    header[0] = 'p';
    header[1] = 'x';
    header[2] = 'v';
    header[3] = static_cast<std::uint8_t>(h == 0 ? options.version0 : options.version1);
    PutU64(header, 4, static_cast<std::uint64_t>(h == 0 ? options.counter0 : options.counter1));
    PutU64(header, 12, 0x5A5A5A5A5A5A5A5AULL);  // a field the reader ignores
    const bool current = h == document.currentHeader;
    if (current) {
      PutU64(header, 20, continuation == 0 ? 0 : document.continuationFidx[0]);
      for (std::int64_t v = 0; v < kHeaderMapEntries; ++v) {
        PutU64(header, 28 + 16 * v, 0xC0DE000000000000ULL | static_cast<std::uint64_t>(v));
        auto it = document.map.find(v);
        if (it != document.map.end()) PutU64(header, 36 + 16 * v, it->second);
      }
    } else if (options.poisonStaleHeader) {
      // Every vidx of the stale map points at the page of the next vidx.
      std::vector<std::uint64_t> mapped;
      for (const auto& [v, f] : document.map) mapped.push_back(f);
      std::size_t i = 0;
      for (const auto& [v, f] : document.map) {
        if (v < kHeaderMapEntries && mapped.size() > 1) PutU64(header, 36 + 16 * v, mapped[(i + 1) % mapped.size()]);
        ++i;
      }
    }
    document.pages[static_cast<std::uint64_t>(h)] = std::move(header);
  }

  for (std::uint64_t c = 0; c < continuation; ++c) {
    std::vector<std::uint8_t> page(kKezPageSize, 0);
    PutU64(page, 0, 0xC0FFEE0000000000ULL | c);
    PutU64(page, 8, c + 1 < continuation ? document.continuationFidx[c + 1] : 0);
    for (std::int64_t k = 0; k < kContinuationMapEntries; ++k) {
      const std::int64_t v = kHeaderMapEntries + static_cast<std::int64_t>(c) * kContinuationMapEntries + k;
      auto it = document.map.find(v);
      if (it != document.map.end()) PutU64(page, 24 + 16 * k, it->second);
    }
    document.pages[document.continuationFidx[c]] = std::move(page);
  }
  return document;
}

// --------------------------------------------------------------- root record

std::vector<std::uint8_t> BuildRootRecord(const KezRootOptions& options) {
  using namespace kez::doc;
  flatbuffers::FlatBufferBuilder b;
  b.ForceDefaults(true);  // every scalar present, so every field is checked

  flatbuffers::Offset<DocRoot> root;
  if (!options.fillOtherFields) {
    DocRootBuilder rb(b);
    if (options.withThumbRef) {
      const ThumbRef ref(options.width, options.height, options.blobVidx);
      rb.add_thumb_ref(&ref);
    }
    root = rb.Finish();
    b.Finish(root);
    return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
  }

  const Rect rects[] = {Rect(1, 2, 3, 4), Rect(5, 6, 7, 8)};
  const Triple64 triples[] = {Triple64(1, 2, 3), Triple64(4, 5, 6)};
  const TaggedRect tagged[] = {TaggedRect(1, 2, 3, 4, 5)};

  // DocTableA entries with each union member, and an unknown code if asked.
  std::vector<flatbuffers::Offset<DocTableA>> tableA;
  tableA.push_back(CreateDocTableA(b, b.CreateString("a1"), DocUnionA::DocTableA1, CreateDocTableA1(b, 11).Union()));
  tableA.push_back(CreateDocTableA(b, b.CreateString("a2"), DocUnionA::DocTableA2, CreateDocTableA2(b, 1, 2).Union()));
  tableA.push_back(CreateDocTableA(b, b.CreateString("a3"), DocUnionA::DocTableA3, CreateDocTableA3(b, 3, 4).Union()));
  tableA.push_back(CreateDocTableA(b, b.CreateString("a4"), DocUnionA::DocTableA4,
                                   CreateDocTableA4(b, 7, b.CreateVectorOfStructs(rects, 2)).Union()));
  tableA.push_back(CreateDocTableA(b, b.CreateString("a5"), DocUnionA::DocTableA5,
                                   CreateDocTableA5(b, b.CreateVectorOfStructs(rects, 1)).Union()));
  if (options.unknownUnionCode != 0) {
    // The value is a string, not a table: only the code says what it is.
    tableA.push_back(CreateDocTableA(b, b.CreateString("unknown"), static_cast<DocUnionA>(options.unknownUnionCode),
                                     b.CreateString("not a table").Union()));
  }

  // DocTableK entries with every member of DocUnionK.
  auto g = CreateDocTableG(b, b.CreateString("g"), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                           b.CreateVectorOfStrings({"s1", "s2"}), 15, 16);
  const Rect r16(9, 8, 7, 6);
  const Range64 range(100, 200);
  const TaggedRect t20(1, 1, 2, 2, 3);
  auto l = CreateDocTableL(b, &triples[0], 1, &triples[1], 3, 4);
  std::vector<flatbuffers::Offset<DocTableM>> tableM;
  tableM.push_back(CreateDocTableM(b, &triples[0], &triples[1], 2, 3, b.CreateString("m"), 5, 6, 7, DocUnionM::DocTableL,
                                   CreateDocTableL(b, &triples[1], 9, &triples[0], 8, 7).Union()));
  tableM.push_back(CreateDocTableM(b, &triples[1], &triples[0], 2, 3, b.CreateString("m6"), 5, 6, 7,
                                   DocUnionM::DocTableM6,
                                   CreateDocTableM6(b, &triples[0], b.CreateVectorOfStructs(triples, 2),
                                                    b.CreateVectorOfStructs(tagged, 1))
                                       .Union()));
  tableM.push_back(CreateDocTableM(b, &triples[0], &triples[0], 1, 1, 0, 0, 0, 0, DocUnionM::DocTableM5,
                                   CreateDocTableM5(b, 1, 2, 3).Union()));
  std::vector<std::pair<DocUnionK, flatbuffers::Offset<void>>> kValues = {
      {DocUnionK::DocTableK1, CreateDocTableK1(b, 1, 2, 3, b.CreateVectorOfStructs(triples, 2)).Union()},
      {DocUnionK::DocTableK2, CreateDocTableK2(b, &r16, 1, 2).Union()},
      {DocUnionK::DocTableK3, CreateDocTableK3(b, &r16).Union()},
      {DocUnionK::DocTableK4, CreateDocTableK4(b, &r16, 4).Union()},
      {DocUnionK::DocTableK5, CreateDocTableK5(b, 1, 2, 3, b.CreateVectorOfStructs(rects, 2)).Union()},
      {DocUnionK::DocTableK6, CreateDocTableK6(b, 6, b.CreateVectorOfStructs(rects, 1)).Union()},
      {DocUnionK::DocTableK7, CreateDocTableK7(b, 7, b.CreateVectorOfStructs(rects, 2)).Union()},
      {DocUnionK::DocTableK8, CreateDocTableK8(b, &r16, 1, 2, &range, 4, 5, 6).Union()},
      {DocUnionK::DocTableK9, CreateDocTableK9(b, &r16, 1, g, 3).Union()},
      {DocUnionK::DocTableK10, CreateDocTableK10(b, 1, 2, 3, 4, 5, 6, 7).Union()},
      {DocUnionK::DocTableK11,
       CreateDocTableK11(b, &r16, 1, 2, &t20, l, b.CreateVector(tableM)).Union()},
  };
  std::vector<flatbuffers::Offset<DocTableK>> tableK;
  for (std::size_t i = 0; i < kValues.size(); ++i)
    tableK.push_back(CreateDocTableK(b, static_cast<std::int32_t>(i), 1, b.CreateString("k" + std::to_string(i)), 3,
                                     4, kValues[i].first, kValues[i].second));
  auto j = CreateDocTableJ(b, b.CreateVector(tableK));

  std::vector<flatbuffers::Offset<DocTableF>> tableF;
  tableF.push_back(CreateDocTableF(b, DocUnionF::DocTableF1, CreateDocTableF1(b, 1, 2, 3, 4, 5, 6, 7, 8, 9).Union()));
  tableF.push_back(CreateDocTableF(b, DocUnionF::DocTableF2, CreateDocTableF2(b, 1, 2, 3, 4, 5, 6, 7, 8).Union()));
  tableF.push_back(
      CreateDocTableF(b, DocUnionF::DocTableF3, CreateDocTableF3(b, b.CreateVectorOfStructs(rects, 2), 1, 2, 3, 4).Union()));
  auto fVector = b.CreateVector(tableF);
  auto h = CreateDocTableH(b, 1, 2, 3, 4, 5, 6, 7, b.CreateVector(std::vector<std::int64_t>{1, 2, 3}));

  std::vector<flatbuffers::Offset<DocTableE>> tableE;
  for (int i = 0; i < options.docTableECount; ++i) {
    // The first entry carries the nested tables; the rest are flat.
    const bool full = i == 0;
    tableE.push_back(CreateDocTableE(
        b, i, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, b.CreateString("layer " + std::to_string(i)), 17, 18,
        19, 20, 21, 22, 23, 24, 25, 26, 27, full ? fVector : 0, full ? g : 0, 30, 31, 32, full ? h : 0,
        b.CreateVector(std::vector<std::int64_t>{i, i + 1}), 35, 36, 37, full ? j : 0, 39, 40,
        b.CreateString("e" + std::to_string(i))));
  }
  auto d = CreateDocTableD(b, 1, b.CreateVector(tableE));
  auto tableB = CreateDocTableB(b, 1, 2, 3, 4, 5, 6, b.CreateVectorOfStructs(rects, 2));
  auto tableC = CreateDocTableC(b, 1, 2, 3, 4, 5, 6, 7, 8);
  auto n = CreateDocTableN(b, 1, 2, 3, 4, 5, 6);
  auto s8 = b.CreateString("document");
  auto s10 = b.CreateString("author");
  auto s18 = b.CreateString("comment");
  auto aVector = b.CreateVector(tableA);
  auto rectVector = b.CreateVectorOfStructs(rects, 2);

  DocRootBuilder rb(b);
  rb.add_f0(1);
  rb.add_f1(2);
  rb.add_f2(3);
  rb.add_f3(4);
  rb.add_f4(5);
  rb.add_f5(6);
  rb.add_f6(7);
  rb.add_f7(8);
  rb.add_f8(s8);
  rb.add_f9(9);
  rb.add_f10(s10);
  rb.add_f11(11);
  if (options.withThumbRef) {
    const ThumbRef ref(options.width, options.height, options.blobVidx);
    rb.add_thumb_ref(&ref);
  }
  rb.add_f13(aVector);
  rb.add_f14(rectVector);
  rb.add_f15(tableB);
  rb.add_f16(tableC);
  rb.add_f17(d);
  rb.add_f18(s18);
  rb.add_f19(19);
  rb.add_f20(20);
  rb.add_f21(n);
  rb.add_f22(22);
  root = rb.Finish();
  b.Finish(root);
  return {b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()};
}

// --------------------------------------------------------------------- blobs

std::vector<std::uint8_t> RawBlob(const std::vector<std::uint8_t>& pixels) {
  std::vector<std::uint8_t> blob;
  blob.reserve(pixels.size() + 1);
  blob.push_back(0xFF);
  blob.insert(blob.end(), pixels.begin(), pixels.end());
  return blob;
}

std::vector<std::uint8_t> ZstdFrames(const std::vector<std::uint8_t>& data, const KezZstdOptions& options) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, options.level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, options.checksum ? 1 : 0);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, options.declareSize ? 1 : 0);
  std::vector<std::uint8_t> out;
  const int frames = std::max(1, options.frames);
  const std::size_t part = (data.size() + frames - 1) / frames;
  for (int f = 0; f < frames; ++f) {
    const std::size_t start = std::min(data.size(), part * f);
    const std::size_t n = std::min(data.size() - start, part);
    std::vector<std::uint8_t> frame(ZSTD_compressBound(n));
    std::size_t written = 0;
    if (options.declareSize) {
      written = ZSTD_compress2(context, frame.data(), frame.size(), data.data() + start, n);
    } else {
      // Streamed without a pledged size, so the frame header omits it.
      ZSTD_CCtx_reset(context, ZSTD_reset_session_only);
      ZSTD_inBuffer in{data.data() + start, n, 0};
      ZSTD_outBuffer o{frame.data(), frame.size(), 0};
      std::size_t remaining = 0;
      do remaining = ZSTD_compressStream2(context, &o, &in, ZSTD_e_end);
      while (remaining != 0 && !ZSTD_isError(remaining));
      written = ZSTD_isError(remaining) ? remaining : o.pos;
    }
    if (ZSTD_isError(written)) {
      ZSTD_freeCCtx(context);
      throw std::runtime_error("zstd compression failed");
    }
    out.insert(out.end(), frame.begin(), frame.begin() + written);
  }
  ZSTD_freeCCtx(context);
  return out;
}

namespace {

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> ZstdBlobOf(const std::vector<std::uint8_t>& frames, std::uint64_t declaredLength) {
  std::vector<std::uint8_t> blob;
  blob.reserve(9 + frames.size());
  blob.push_back(3);
  PutLittleEndian(blob, declaredLength, 8);
  blob.insert(blob.end(), frames.begin(), frames.end());
  return blob;
}

std::vector<std::uint8_t> ZstdBlob(const std::vector<std::uint8_t>& pixels, const KezZstdOptions& options,
                                   std::optional<std::uint64_t> declaredLength) {
  return ZstdBlobOf(ZstdFrames(pixels, options), declaredLength.value_or(pixels.size()));
}

std::vector<std::uint8_t> ZstdRawFrame(const std::uint8_t* data, std::size_t size, const ZstdFrameHeader& header) {
  static constexpr int kSizeFlag[] = {0, 0, 1, 0, 2, 0, 0, 0, 3};  // by sizeBytes
  static constexpr int kIdFlag[] = {0, 1, 2, 0, 3};                // by dictionaryIdBytes
  std::vector<std::uint8_t> frame = {0x28, 0xB5, 0x2F, 0xFD};
  frame.push_back(static_cast<std::uint8_t>(kSizeFlag[header.sizeBytes] << 6 | (header.singleSegment ? 0x20 : 0) |
                                            kIdFlag[header.dictionaryIdBytes]));
  if (!header.singleSegment) frame.push_back(5 << 3);  // 2^(10 + 5) bytes
  PutLittleEndian(frame, header.dictionaryId, header.dictionaryIdBytes);
  PutLittleEndian(frame, header.sizeBytes == 2 ? size - 256 : size, header.sizeBytes);
  for (std::size_t at = 0;;) {
    const std::size_t length = std::min<std::size_t>(size - at, 16384);
    const bool last = at + length == size;
    PutLittleEndian(frame, length << 3 | (last ? 1 : 0), 3);  // a raw block
    frame.insert(frame.end(), data + at, data + at + length);
    at += length;
    if (last) return frame;
  }
}

std::vector<std::uint8_t> ZstdSkippableFrame(std::size_t size) {
  std::vector<std::uint8_t> frame;
  PutLittleEndian(frame, 0x184D2A50, 4);
  PutLittleEndian(frame, size - 8, 4);
  frame.resize(size, 0);
  return frame;
}

std::vector<std::uint8_t> ZstdBlobWithWindow(const std::vector<std::uint8_t>& pixels, int windowLog) {
  KezZstdOptions options;
  options.declareSize = false;
  std::vector<std::uint8_t> blob = ZstdBlob(pixels, options);
  // Blob header, frame magic, frame header descriptor, window descriptor.
  blob[9 + 4 + 1] = static_cast<std::uint8_t>((windowLog - 10) << 3);
  return blob;
}

// ---------------------------------------------------------------- documents

KezDocument BuildKez(const KezPicture& picture, const KezOptions& options) {
  KezBuilder builder;
  for (int i = 0; i < options.skipVidx; ++i) builder.NewVidx();
  builder.PutPage(0, {});
  builder.PutPage(options.blobVidx, {});

  std::vector<std::uint8_t> blob;
  if (options.blobContent)
    blob = *options.blobContent;
  else if (options.blob == KezOptions::Blob::Raw)
    blob = RawBlob(picture.Bytes());
  else
    blob = ZstdBlob(picture.Bytes(), options.zstd);
  const KezStreamLayout blobLayout = builder.AddStream(options.blobVidx, blob, options.blobStream);

  std::vector<std::uint8_t> root;
  if (options.rootContent) {
    root = *options.rootContent;
  } else {
    KezRootOptions rootOptions = options.root;
    rootOptions.width = picture.width;
    rootOptions.height = picture.height;
    rootOptions.blobVidx = options.blobVidx;
    root = BuildRootRecord(rootOptions);
  }
  const KezStreamLayout rootLayout = builder.AddStream(0, root, options.rootStream);

  KezDocument document = builder.Finish(options.store);
  document.root = rootLayout;
  document.blob = blobLayout;
  return document;
}

std::vector<std::uint8_t> BuildKezBytes(const KezPicture& picture, const KezOptions& options) {
  return BuildKez(picture, options).Bytes();
}

}  // namespace kez::testing
