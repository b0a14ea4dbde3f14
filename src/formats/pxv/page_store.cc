#include "formats/pxv/page_store.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include "formats/pxv/little_endian.h"
#include "lumo/errors.h"

namespace {

[[noreturn]] void ThrowIoError() { throw std::runtime_error("IO error"); }

// Coverage-guided fuzzers would trace every comparison of the loop below,
// which runs over the whole map on every open and tells them nothing.
#if defined(__clang__) && __clang_major__ >= 13
#define KEZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define KEZ_NO_COVERAGE
#endif

// The map entries of one map page, from vidx on: a page number to `used`,
// an empty entry's vidx to `free`, both written through cursors into room
// the caller made (a vector's growth check would be traced as well).
KEZ_NO_COVERAGE void SortEntries(const unsigned char* entry, int count, std::uint64_t& vidx, std::uint64_t*& used,
                                 std::uint64_t*& free) {
  // Local cursors: written back once, not stored on every entry.
  std::uint64_t* u = used;
  std::uint64_t* f = free;
  std::uint64_t v = vidx;
  for (const unsigned char* end = entry + 16 * static_cast<std::size_t>(count); entry != end; entry += 16, ++v) {
    const std::uint64_t fidx = pagestore::LoadU64(entry);
    if (fidx != 0)
      *u++ = fidx;
    else
      *f++ = v;
  }
  used = u;
  free = f;
  vidx = v;
}

}  // namespace

// ---------------------------------------------------------------- PageFile

PageFile::PageFile(std::uint64_t size, ReadFunction read) : m_size(size), m_read(std::move(read)) {}

PageFile::PageFile(PageFile&& other) noexcept
    : m_size(other.m_size), m_read(std::move(other.m_read)), m_live(std::move(other.m_live)) {
  other.m_live.clear();
}

// Users give back every page they get; buffers still out when an exception
// unwound past their user are freed here, so no path leaks.
PageFile::~PageFile() {
  for (unsigned char* buffer : m_live) std::free(buffer);
}

unsigned char* PageFile::ReadFilePage(std::uint64_t fidx) {
  // A page at or past the end cannot be read whole; checking first also
  // keeps fidx * 65536 from wrapping for huge page numbers.
  if (fidx >= PageCount()) throw ThumbError("Can't read enough");
  auto* buffer = static_cast<unsigned char*>(std::malloc(pagestore::kPageSize));
  if (buffer == nullptr) ThrowIoError();
  int got = 0;
  try {
    got = m_read(fidx * pagestore::kPageSize, buffer, static_cast<int>(pagestore::kPageSize));
  } catch (...) {
    std::free(buffer);
    throw;
  }
  if (got != static_cast<int>(pagestore::kPageSize) || !m_live.insert(buffer).second) {
    std::free(buffer);
    ThrowIoError();
  }
  return buffer;
}

void PageFile::ReleaseFilePage(unsigned char* buffer) {
  auto it = m_live.find(buffer);
  if (it == m_live.end()) ThrowIoError();
  m_live.erase(it);
  std::free(buffer);
}

namespace pagestore {

// ---------------------------------------------------------- SeekPageMapper

void SeekPageMapper::Load(PageHandle* header, PageFile& file) {
  m_header = header;
  const std::uint64_t pageCount = file.PageCount();

  // The chain of index continuation pages. A page met a second time means
  // the chain loops; every page read is a distinct page the file holds.
  std::set<std::uint64_t> visited;
  std::uint64_t next = LoadU64(header->buffer + kFirstContinuationOffset);
  while (next != 0) {
    if (!visited.insert(next).second) ThrowIoError();
    unsigned char* page = file.ReadFilePage(next);
    m_continuation.push_back(page);
    next = LoadU64(page + kNextContinuationOffset);
  }

  // Free lists. The used pages are gathered, sorted, and the gaps between
  // them below the page count become the free ranges: memory and time follow
  // the map's entries, never the size the stream claims.
  std::vector<std::uint64_t> used{0, 1};
  const std::uint64_t first = LoadU64(header->buffer + kFirstContinuationOffset);
  if (first != 0) used.push_back(first);
  for (unsigned char* page : m_continuation) used.push_back(LoadU64(page + kNextContinuationOffset));
  // Room for either outcome of every entry, left uninitialised: filling it
  // first would cost as much as the walk.
  const auto capacity = static_cast<std::size_t>(Capacity());
  const std::unique_ptr<std::uint64_t[]> room(new std::uint64_t[2 * capacity]);
  std::uint64_t vidx = 0;
  std::uint64_t* usedEnd = room.get();
  std::uint64_t* freeEnd = room.get() + capacity;
  SortEntries(header->buffer + 36, kHeaderMapEntries, vidx, usedEnd, freeEnd);
  for (const unsigned char* page : m_continuation)
    SortEntries(page + 24, kContinuationMapEntries, vidx, usedEnd, freeEnd);
  used.insert(used.end(), room.get(), usedEnd);
  m_freeVidx.assign(room.get() + capacity, freeEnd);
  std::sort(used.begin(), used.end());
  std::uint64_t start = 2;
  for (const std::uint64_t fidx : used) {
    if (fidx >= pageCount) break;
    if (fidx > start) m_freeFidx.push_back(PageRange{start, fidx});
    start = std::max(start, fidx + 1);
  }
  if (start < pageCount) m_freeFidx.push_back(PageRange{start, pageCount});
}

void SeekPageMapper::ReleaseIndexPages(PageFile& file) {
  if (m_released) return;
  m_released = true;
  for (unsigned char* page : m_continuation) file.ReleaseFilePage(page);
  m_continuation.clear();
}

std::int64_t SeekPageMapper::Capacity() const {
  return kHeaderMapEntries + kContinuationMapEntries * static_cast<std::int64_t>(m_continuation.size());
}

std::uint64_t SeekPageMapper::Lookup(std::int64_t vidx) const {
  if (!Contains(vidx)) ThrowIoError();
  if (vidx < kHeaderMapEntries) return LoadU64(m_header->buffer + 36 + 16 * static_cast<std::uint64_t>(vidx));
  const std::uint64_t j = static_cast<std::uint64_t>(vidx - kHeaderMapEntries);
  const unsigned char* page = m_continuation[j / kContinuationMapEntries];
  return LoadU64(page + 24 + 16 * (j % kContinuationMapEntries));
}

// ------------------------------------------------------------- RPageStore

RPageStore<SeekPageMapper>::RPageStore(PageFile file, PageHandle header)
    : m_file(std::move(file)), m_header(header) {
  m_mapper.Load(&m_header, m_file);
}

RPageStore<SeekPageMapper>::~RPageStore() {
  try {
    if (m_header.buffer != nullptr) m_file.ReleaseFilePage(m_header.buffer);
    m_mapper.ReleaseIndexPages(m_file);
  } catch (const std::exception&) {
    // Only a bookkeeping mismatch lands here; the PageFile frees what is left.
  }
}

unsigned char* RPageStore<SeekPageMapper>::GetPage(std::int64_t vidx) {
  return m_file.ReadFilePage(m_mapper.Lookup(vidx));
}

void RPageStore<SeekPageMapper>::ReleasePage(unsigned char* buffer, std::int64_t) { m_file.ReleaseFilePage(buffer); }

bool RPageStore<SeekPageMapper>::HasPage(std::int64_t vidx) {
  return m_mapper.Contains(vidx) && m_mapper.Lookup(vidx) != 0;
}

void RPageStore<SeekPageMapper>::Describe(std::int64_t vidx, std::ostream& out) {
  const std::uint64_t fidx = m_mapper.Contains(vidx) ? m_mapper.Lookup(vidx) : 0;
  out << "vidx: " << vidx << ", fidx: " << fidx << "\n"
      << "pageNum: " << m_file.PageCount() << "\n";
}

std::uint8_t RPageStore<SeekPageMapper>::Version() {
  return m_header.buffer == nullptr ? 0 : m_header.buffer[3];
}

// --------------------------------------------------------------- opening

PageFile::ReadFunction StreamReadFunction(IStream* stream) {
  return [stream](unsigned long long offset, unsigned char* buffer, int size) -> int {
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(offset);
    if (FAILED(stream->Seek(move, STREAM_SEEK_SET, nullptr))) throw ThumbError("Seek fail");
    ULONG read = 0;
    if (FAILED(stream->Read(buffer, static_cast<ULONG>(size), &read))) throw ThumbError("Read fail");
    if (read != static_cast<ULONG>(size)) throw ThumbError("Can't read enough");
    return static_cast<int>(read);
  };
}

std::unique_ptr<RPageStore<SeekPageMapper>> OpenPageStore(std::uint64_t size, PageFile::ReadFunction read) {
  PageFile file(size, std::move(read));
  unsigned char* page0 = file.ReadFilePage(0);
  unsigned char* page1 = file.ReadFilePage(1);
  // The larger commit counter wins, compared signed; a tie goes to page 1.
  PageHandle header;
  if (LoadI64(page0 + 4) > LoadI64(page1 + 4)) {
    file.ReleaseFilePage(page1);
    header = PageHandle{0, page0};
  } else {
    file.ReleaseFilePage(page0);
    header = PageHandle{1, page1};
  }
  return std::make_unique<RPageStore<SeekPageMapper>>(std::move(file), header);
}

std::unique_ptr<RPageStore<SeekPageMapper>> OpenPageStore(IStream* stream) {
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) throw ThumbError("Fail to stat.");
  return OpenPageStore(stat.cbSize.QuadPart, StreamReadFunction(stream));
}

}  // namespace pagestore
