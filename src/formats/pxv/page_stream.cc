#include "formats/pxv/page_stream.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "formats/pxv/little_endian.h"
#include "lumo/errors.h"

using namespace pagestore;

namespace {

// "<what>: 0x<value>\nhead: <64 bytes of the head page>\n", lowercase hex.
std::string HeadDump(const std::string& what, std::uint64_t value, const unsigned char* head) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = what + ": 0x";
  char hex[17];
  int n = 0;
  do {
    hex[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n > 0) text += hex[--n];
  text += "\nhead: ";
  for (int i = 0; i < 64; ++i) {
    text += kDigits[head[i] >> 4];
    text += kDigits[head[i] & 0xF];
    text += ' ';
  }
  text += '\n';
  return text;
}

}  // namespace

PageStream::~PageStream() {
  try {
    Close();
  } catch (const std::exception&) {
    // The store frees whatever it still has when it goes.
  }
}

void PageStream::Fail(const std::string& what, std::uint64_t value) const {
  throw lumo::PXVError(HeadDump(what, value, m_head));
}

void PageStream::Open(ReadablePageStore* store, std::int64_t vidx) {
  m_store = store;
  m_headVidx = vidx;
  m_head = store->GetPage(vidx);
  m_length = LoadU64(m_head + 1);
  m_position = 0;
  try {
    // A length the file cannot hold would size allocations and loops on
    // nothing; the stream is malformed instead.
    if (IsInline()) {
      if (m_length > kInlineCapacity) Fail("Invalid length", m_length);
      return;
    }
    const std::uint64_t pages = store->PageCount();
    if (pages > (UINT64_MAX >> 16) || m_length > pages * kPageSize) Fail("Invalid length", m_length);

    std::int64_t next = LoadI64(m_head + 9);
    if (next == kNoPage) return;
    // A vidx met a second time means the chain loops. Each page decides its
    // successor, so a chain without repeats is no longer than the distinct
    // pages the file holds.
    std::set<std::int64_t> visited;
    while (next != kNoPage) {
      if (next <= 0) Fail("Invalid nextVidx", static_cast<std::uint64_t>(next));
      if (!visited.insert(next).second) Fail("Extension chain loops", static_cast<std::uint64_t>(next));
      unsigned char* page = store->GetPage(next);
      m_extensions.push_back(page);
      m_extensionVidx.push_back(next);
      next = LoadI64(page);
    }
  } catch (...) {
    Close();
    throw;
  }
}

std::int64_t PageStream::DataPageVidx(std::int64_t d) const {
  if (d >= 0 && d < kHeadDataEntries) return LoadI64(m_head + 17 + 8 * d);
  const std::int64_t j = d - kHeadDataEntries;
  if (d < 0 || static_cast<std::uint64_t>(j / kExtensionDataEntries) >= m_extensions.size())
    Fail("Data page beyond the page tables", static_cast<std::uint64_t>(d));
  return LoadI64(m_extensions[j / kExtensionDataEntries] + 8 * (j % kExtensionDataEntries + 1));
}

const unsigned char* PageStream::Here(std::uint64_t* inPage) {
  const std::int64_t d = static_cast<std::int64_t>(m_position / kPageSize);
  const std::uint64_t o = m_position % kPageSize;
  const std::int64_t vidx = DataPageVidx(d);
  // A table entry may hold -1 as well, so the cache is judged by its buffer.
  if (m_cached == nullptr || vidx != m_cachedVidx) {
    unsigned char* page = m_store->GetPage(vidx);
    if (m_cached != nullptr) {
      unsigned char* old = m_cached;
      const std::int64_t oldVidx = m_cachedVidx;
      m_cached = nullptr;
      m_cachedVidx = kNoPage;
      try {
        m_store->ReleasePage(old, oldVidx);
      } catch (...) {
        m_store->ReleasePage(page, vidx);
        throw;
      }
    }
    m_cached = page;
    m_cachedVidx = vidx;
  }
  *inPage = kPageSize - o;
  return m_cached + o;
}

std::int32_t PageStream::Read(void* destination, std::int32_t count) {
  if (m_head == nullptr || count <= 0 || m_position >= m_length) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), m_length - m_position);
  auto* out = static_cast<unsigned char*>(destination);
  if (IsInline()) {
    std::memcpy(out, m_head + 9 + m_position, n);
    m_position += n;
    return static_cast<std::int32_t>(n);
  }
  std::uint64_t done = 0;
  while (done < n) {
    std::uint64_t inPage = 0;
    const unsigned char* here = Here(&inPage);
    const std::uint64_t take = std::min<std::uint64_t>(inPage, n - done);
    std::memcpy(out + done, here, take);
    done += take;
    m_position += take;
  }
  return static_cast<std::int32_t>(n);
}

std::int32_t PageStream::Borrow(const unsigned char** data, std::int32_t count) {
  if (m_head == nullptr || count <= 0 || m_position >= m_length) return 0;
  std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), m_length - m_position);
  if (IsInline()) {
    *data = m_head + 9 + m_position;
  } else {
    std::uint64_t inPage = 0;
    *data = Here(&inPage);
    n = std::min(n, inPage);
  }
  m_position += n;
  return static_cast<std::int32_t>(n);
}

void PageStream::Close() {
  if (m_store == nullptr) return;
  ReadablePageStore* store = m_store;
  // Forget each page before giving it back, so a failing release is never
  // repeated by the destructor.
  if (m_cached != nullptr) {
    unsigned char* page = m_cached;
    const std::int64_t vidx = m_cachedVidx;
    m_cached = nullptr;
    m_cachedVidx = kNoPage;
    store->ReleasePage(page, vidx);
  }
  std::vector<unsigned char*> extensions;
  std::vector<std::int64_t> extensionVidx;
  extensions.swap(m_extensions);
  extensionVidx.swap(m_extensionVidx);
  for (std::size_t i = 0; i < extensions.size(); ++i) store->ReleasePage(extensions[i], extensionVidx[i]);
  if (m_head != nullptr) {
    unsigned char* page = m_head;
    m_head = nullptr;
    store->ReleasePage(page, m_headVidx);
  }
  m_store = nullptr;
}
