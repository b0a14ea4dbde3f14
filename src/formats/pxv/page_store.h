// The page store of a ".kez" document: 65,536-byte pages, two header pages
// with a commit counter, and a page map from the document's page numbers
// (vidx) to file pages (fidx), continued in index pages chained from the
// current header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <vector>

#include "platform/com.h"

namespace pagestore {

constexpr std::uint64_t kPageSize = 65536;
constexpr int kHeaderMapEntries = 4094;
constexpr int kContinuationMapEntries = 4095;
constexpr std::uint64_t kHeaderMapOffset = 28;
constexpr std::uint64_t kContinuationMapOffset = 16;
constexpr std::uint64_t kFirstContinuationOffset = 20;
constexpr std::uint64_t kNextContinuationOffset = 8;

}  // namespace pagestore

// The current header page in memory.
struct PageHandle {
  std::int32_t pageNumber = 0;
  unsigned char* buffer = nullptr;
};

// Reads whole pages from the file and keeps the set of buffers handed out.
class PageFile {
 public:
  using ReadFunction = std::function<int(unsigned long long offset, unsigned char* buffer, int size)>;

  PageFile(std::uint64_t size, ReadFunction read);
  ~PageFile();
  PageFile(PageFile&&) noexcept;
  PageFile& operator=(PageFile&&) = delete;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // A fresh buffer holding file page `fidx`; "IO error" when it cannot be had.
  unsigned char* ReadFilePage(std::uint64_t fidx);
  // Gives back a buffer from ReadFilePage; "IO error" for an unknown one.
  void ReleaseFilePage(unsigned char* buffer);

  std::uint64_t Size() const { return m_size; }
  std::uint64_t PageCount() const { return m_size >> 16; }
  std::size_t LiveBuffers() const { return m_live.size(); }

 private:
  std::uint64_t m_size;
  ReadFunction m_read;
  std::set<unsigned char*> m_live;
};

namespace pagestore {

// The page-store interface the page streams read through.
class ReadablePageStore {
 public:
  virtual unsigned char* GetPage(std::int64_t vidx) = 0;
  virtual void ReleasePage(unsigned char* buffer, std::int64_t vidx) = 0;
  virtual ~ReadablePageStore() = default;
  virtual bool HasPage(std::int64_t vidx) = 0;
  virtual void Describe(std::int64_t vidx, std::ostream& out) = 0;
  virtual std::uint8_t Version() = 0;
  // Whole pages in the file: what bounds every stream length in it.
  virtual std::uint64_t PageCount() = 0;
};

// Free file pages first to end - 1.
struct PageRange {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  bool operator==(const PageRange&) const = default;
};

// Resolves vidx through the map of the current header and its index
// continuation pages.
class SeekPageMapper {
 public:
  SeekPageMapper() = default;
  SeekPageMapper(const SeekPageMapper&) = delete;
  SeekPageMapper& operator=(const SeekPageMapper&) = delete;

  // Loads the continuation chain of `header` and builds the free lists.
  void Load(PageHandle* header, PageFile& file);
  // Gives the continuation pages back (once).
  void ReleaseIndexPages(PageFile& file);

  // vidx values the map can hold: 4094 + 4095 per continuation page.
  std::int64_t Capacity() const;
  bool Contains(std::int64_t vidx) const { return vidx >= 0 && vidx < Capacity(); }
  // The fidx of a vidx inside the map.
  std::uint64_t Lookup(std::int64_t vidx) const;

  const std::vector<std::uint64_t>& FreeVidx() const { return m_freeVidx; }
  // Every fidx from 2 to page count - 1 that nothing uses, as ascending
  // disjoint ranges: a sparse file of many pages costs one entry, not one
  // per page.
  const std::vector<PageRange>& FreeFidx() const { return m_freeFidx; }
  const std::vector<unsigned char*>& ContinuationPages() const { return m_continuation; }

 private:
  PageHandle* m_header = nullptr;
  std::vector<unsigned char*> m_continuation;
  std::vector<std::uint64_t> m_freeVidx;
  std::vector<PageRange> m_freeFidx;
  bool m_released = false;
};

template <typename Mapper>
class RPageStore;

template <>
class RPageStore<SeekPageMapper> final : public ReadablePageStore {
 public:
  // Takes the file and its current header page, then loads the map's
  // continuation chain and the free lists.
  RPageStore(PageFile file, PageHandle header);
  ~RPageStore() override;
  RPageStore(const RPageStore&) = delete;
  RPageStore& operator=(const RPageStore&) = delete;

  unsigned char* GetPage(std::int64_t vidx) override;
  void ReleasePage(unsigned char* buffer, std::int64_t vidx) override;
  bool HasPage(std::int64_t vidx) override;
  void Describe(std::int64_t vidx, std::ostream& out) override;
  std::uint8_t Version() override;
  std::uint64_t PageCount() override { return m_file.PageCount(); }

  const SeekPageMapper& Mapper() const { return m_mapper; }
  const PageFile& File() const { return m_file; }
  std::int32_t CurrentHeader() const { return m_header.pageNumber; }

 private:
  PageFile m_file;
  PageHandle m_header;
  SeekPageMapper m_mapper;
};

// The read function over the shell's stream: seek, read, and insist on the
// whole count ("Seek fail", "Read fail", "Can't read enough").
PageFile::ReadFunction StreamReadFunction(IStream* stream);

// Opens the store over `stream`: stats it ("Fail to stat."), elects the
// current header, loads the map and the free lists.
std::unique_ptr<RPageStore<SeekPageMapper>> OpenPageStore(IStream* stream);
// The same over any read function, for a file of `size` bytes.
std::unique_ptr<RPageStore<SeekPageMapper>> OpenPageStore(std::uint64_t size, PageFile::ReadFunction read);

}  // namespace pagestore
