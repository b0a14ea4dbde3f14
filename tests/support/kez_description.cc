#include "support/kez_description.h"

#include <algorithm>
#include <cstring>

namespace kez::testing {
namespace {

// Reads the description front to back; past the end everything is zero.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  bool AtEnd() const { return m_at >= m_size; }
  std::uint64_t Uint(int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<std::uint64_t>(m_at < m_size ? m_data[m_at++] : 0) << (8 * i);
    return value;
  }
  std::vector<std::uint8_t> Bytes(std::size_t count) {
    count = std::min(count, m_size - std::min(m_at, m_size));
    std::vector<std::uint8_t> bytes(m_data + m_at, m_data + m_at + count);
    m_at += count;
    return bytes;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

void PutBytes(std::vector<std::uint8_t>& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Writes into a short page, growing it; nothing lands past the page's end.
void Put(KezDocument& doc, std::uint64_t fidx, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  if (offset >= kKezPageSize || count == 0) return;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, kKezPageSize - offset));
  std::vector<std::uint8_t>& page = doc.pages[fidx];
  if (page.capacity() < offset + count) page.reserve(std::max<std::size_t>(offset + count, 256));
  if (page.size() < offset + count) page.resize(static_cast<std::size_t>(offset + count));
  std::memcpy(page.data() + offset, bytes, count);
}

void PutUint(KezDocument& doc, std::uint64_t fidx, std::uint64_t offset, std::uint64_t value, int width) {
  std::uint8_t bytes[8];
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  Put(doc, fidx, offset, bytes, static_cast<std::size_t>(width));
}

void WriteStream(KezDocument& doc, const KezStreamLayout& s, const std::vector<std::uint8_t>& content,
                 std::uint8_t pagedKind) {
  const std::uint64_t head = doc.map.at(s.headVidx);
  PutUint(doc, head, 1, s.length, 8);
  if (s.isInline) {
    PutUint(doc, head, 0, 1, 1);
    Put(doc, head, 9, content.data(), content.size());
    return;
  }
  PutUint(doc, head, 0, pagedKind == 1 ? 0 : pagedKind, 1);
  PutUint(doc, head, 9, s.extensionVidx.empty() ? ~0ULL : static_cast<std::uint64_t>(s.extensionVidx[0]), 8);
  for (std::size_t d = 0; d < s.dataVidx.size(); ++d) {
    PutUint(doc, head, 17 + 8 * d, static_cast<std::uint64_t>(s.dataVidx[d]), 8);
    const std::size_t start = d * kKezPageSize;
    if (start < content.size())
      Put(doc, doc.map.at(s.dataVidx[d]), 0, content.data() + start,
          std::min<std::size_t>(kKezPageSize, content.size() - start));
  }
  for (std::size_t e = 0; e < s.extensionVidx.size(); ++e)
    PutUint(doc, doc.map.at(s.extensionVidx[e]), 0,
            e + 1 < s.extensionVidx.size() ? static_cast<std::uint64_t>(s.extensionVidx[e + 1]) : ~0ULL, 8);
}

// A blob whose zstd data opens with a skippable frame's header gets the
// frame's content, as zeros, after it.
void InsertSkippedZeros(std::vector<std::uint8_t>& blob) {
  constexpr std::size_t kHeaderEnd = 9 + 8;
  if (blob.size() < kHeaderEnd || (blob[9] & 0xF0) != 0x50 || blob[10] != 0x2A || blob[11] != 0x4D || blob[12] != 0x18)
    return;
  const std::size_t zeros = blob[13] | blob[14] << 8 | std::size_t{blob[15]} << 16 | std::size_t{blob[16]} << 24;
  if (zeros <= 4 * kKezPageSize - kHeaderEnd) blob.insert(blob.begin() + kHeaderEnd, zeros, 0);
}

// The file offset of a patch's target, or nothing when it does not exist.
bool PatchTarget(const KezDocument& doc, int what, std::uint16_t index, std::uint64_t* fidx, std::uint64_t* offset) {
  auto pageOf = [&](std::int64_t vidx) { return doc.map.at(vidx); };
  switch (what) {
    case 0:
      *fidx = index >> 15;
      *offset = index & 0x7FFF;
      return true;
    case 1:
      if (index < kHeaderMapEntries) {
        *fidx = static_cast<std::uint64_t>(doc.currentHeader);
        *offset = 36 + 16 * std::uint64_t{index};
        return true;
      }
      if (static_cast<std::size_t>((index - kHeaderMapEntries) / kContinuationMapEntries) >= doc.continuationFidx.size())
        return false;
      *fidx = doc.continuationFidx[(index - kHeaderMapEntries) / kContinuationMapEntries];
      *offset = 24 + 16 * std::uint64_t((index - kHeaderMapEntries) % kContinuationMapEntries);
      return true;
    case 2: *fidx = pageOf(doc.root.headVidx); break;
    case 3: *fidx = pageOf(doc.blob.headVidx); break;
    case 4:
      if (doc.blob.extensionVidx.empty()) return false;
      *fidx = pageOf(doc.blob.extensionVidx[0]);
      break;
    case 5:
      if (doc.continuationFidx.empty()) return false;
      *fidx = doc.continuationFidx[0];
      break;
    default: {
      const KezStreamLayout& s = what == 6 ? doc.root : doc.blob;
      if (s.isInline) {
        *fidx = pageOf(s.headVidx);
        *offset = 9 + std::uint64_t{index};
        return true;
      }
      if (s.dataVidx.empty()) return false;
      *fidx = pageOf(s.dataVidx[0]);
      break;
    }
  }
  *offset = index;
  return true;
}

}  // namespace

std::vector<std::uint8_t> KezDescription::Encode() const {
  std::vector<std::uint8_t> out;
  for (std::int8_t v : {version0, version1, counter0, counter1}) out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>((continuationPages & 3) | (rootPaged ? 4 : 0) | (blobPaged ? 8 : 0) |
                                          (reverseFidx ? 16 : 0) | ((extraExtensionPages & 3) << 5) |
                                          (skippableZeros ? 128 : 0)));
  out.push_back(pagedKind);
  out.push_back(blobVidx);
  out.push_back(static_cast<std::uint8_t>(extraBlobDataPages));
  out.push_back(static_cast<std::uint8_t>(extraDeclaredPages));
  PutBytes(out, tailBytes, 2);
  for (const auto* content : {&root, &blob}) {
    PutBytes(out, content->size(), 2);
    out.insert(out.end(), content->begin(), content->end());
  }
  for (const Patch& patch : patches) {
    out.push_back(patch.target);
    PutBytes(out, patch.index, 2);
    PutBytes(out, patch.value, 1 << ((patch.target >> 4) & 3));
  }
  return out;
}

KezDocument ExpandKezDescription(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const auto version0 = static_cast<std::uint8_t>(in.Uint(1));
  const auto version1 = static_cast<std::uint8_t>(in.Uint(1));
  const auto counter0 = static_cast<std::int8_t>(in.Uint(1));
  const auto counter1 = static_cast<std::int8_t>(in.Uint(1));
  const auto flags = static_cast<unsigned>(in.Uint(1));
  const auto pagedKind = static_cast<std::uint8_t>(in.Uint(1));
  std::int64_t blobVidx = static_cast<std::int64_t>(in.Uint(1));
  const std::uint64_t extraBlobData = in.Uint(1) & 15;
  const std::uint64_t extraDeclared = in.Uint(1);
  const std::uint64_t tail = in.Uint(2);
  const std::vector<std::uint8_t> root = in.Bytes(static_cast<std::size_t>(in.Uint(2)));
  std::vector<std::uint8_t> blob = in.Bytes(static_cast<std::size_t>(in.Uint(2)));
  if (blobVidx == 0) blobVidx = 3;
  if ((flags & 128) != 0) InsertSkippedZeros(blob);

  KezDocument doc;
  std::int64_t nextVidx = 1;
  auto newVidx = [&] {
    if (nextVidx == blobVidx) ++nextVidx;
    return nextVidx++;
  };
  auto layOut = [&](KezStreamLayout& s, std::int64_t head, const std::vector<std::uint8_t>& content, bool paged,
                    std::uint64_t extraData, int extensions) {
    s.headVidx = head;
    s.length = content.size();
    s.isInline = !paged;
    if (!paged) return;
    const std::uint64_t pages = (content.size() + kKezPageSize - 1) / kKezPageSize + extraData;
    for (std::uint64_t d = 0; d < pages; ++d) s.dataVidx.push_back(newVidx());
    for (int e = 0; e < extensions; ++e) s.extensionVidx.push_back(newVidx());
  };
  layOut(doc.root, 0, root, (flags & 4) != 0, 0, 0);
  layOut(doc.blob, blobVidx, blob, (flags & 8) != 0, extraBlobData, static_cast<int>((flags >> 5) & 3));
  if ((flags & 8) != 0) doc.blob.length += extraBlobData * kKezPageSize;

  // Physical pages: continuation pages, then every vidx's page, then one
  // free page; in reverse order when asked.
  const std::uint64_t continuation = flags & 3;
  std::vector<std::int64_t> vidxs{0, blobVidx};
  for (const KezStreamLayout* s : {&doc.root, &doc.blob}) {
    vidxs.insert(vidxs.end(), s->dataVidx.begin(), s->dataVidx.end());
    vidxs.insert(vidxs.end(), s->extensionVidx.begin(), s->extensionVidx.end());
  }
  const std::uint64_t slots = continuation + vidxs.size() + 1;
  auto fidxAt = [&](std::uint64_t slot) { return (flags & 16) != 0 ? 2 + slots - 1 - slot : 2 + slot; };
  for (std::uint64_t c = 0; c < continuation; ++c) doc.continuationFidx.push_back(fidxAt(c));
  for (std::size_t i = 0; i < vidxs.size(); ++i) doc.map[vidxs[i]] = fidxAt(continuation + i);
  doc.pageCount = 2 + slots + extraDeclared;
  doc.tailBytes = tail;
  doc.currentHeader = counter0 > counter1 ? 0 : 1;

  for (int h = 0; h < 2; ++h) {
    const std::uint8_t magic[] = {'p', 'x', 'v', h == 0 ? version0 : version1};
    Put(doc, static_cast<std::uint64_t>(h), 0, magic, 4);
    PutUint(doc, static_cast<std::uint64_t>(h), 4, static_cast<std::uint64_t>(std::int64_t{h == 0 ? counter0 : counter1}), 8);
  }
  const auto current = static_cast<std::uint64_t>(doc.currentHeader);
  PutUint(doc, current, 20, continuation == 0 ? 0 : doc.continuationFidx[0], 8);
  for (const auto& [vidx, fidx] : doc.map) PutUint(doc, current, 36 + 16 * static_cast<std::uint64_t>(vidx), fidx, 8);
  for (std::uint64_t c = 0; c < continuation; ++c)
    PutUint(doc, doc.continuationFidx[c], 8, c + 1 < continuation ? doc.continuationFidx[c + 1] : 0, 8);
  WriteStream(doc, doc.root, root, pagedKind);
  WriteStream(doc, doc.blob, blob, pagedKind);

  while (!in.AtEnd()) {
    const auto target = static_cast<std::uint8_t>(in.Uint(1));
    const auto index = static_cast<std::uint16_t>(in.Uint(2));
    const int width = 1 << ((target >> 4) & 3);
    const std::uint64_t value = in.Uint(width);
    std::uint64_t fidx = 0;
    std::uint64_t offset = 0;
    if (PatchTarget(doc, target & 7, index, &fidx, &offset)) PutUint(doc, fidx, offset, value, width);
  }
  return doc;
}

}  // namespace kez::testing
