// A page stream: document data spread over pages, named by the vidx of its
// head page. Inline streams keep their content in the head page; paged ones
// list their data pages in the head page and a chain of extension pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/pxv/page_store.h"

namespace pagestore {

constexpr std::uint8_t kInlineStream = 1;
constexpr std::uint64_t kInlineCapacity = kPageSize - 9;
constexpr std::int64_t kHeadDataEntries = 8189;
constexpr std::int64_t kExtensionDataEntries = 8191;
constexpr std::int64_t kNoPage = -1;

}  // namespace pagestore

class PageStream {
 public:
  PageStream() = default;
  // Releases whatever is still held (Close not reached because of an error).
  ~PageStream();
  PageStream(const PageStream&) = delete;
  PageStream& operator=(const PageStream&) = delete;

  // Fetches the head page and, for the paged kind, the extension chain.
  // A malformed head or chain throws lumo::PXVError; nothing is then held.
  void Open(pagestore::ReadablePageStore* store, std::int64_t vidx);
  // Copies up to `count` bytes from the read position; 0 at the end.
  std::int32_t Read(void* destination, std::int32_t count);
  // Up to `count` bytes from the read position without a copy: *data points
  // into the page in hand and stays valid until the next Read, Borrow or
  // Close. Fewer bytes than asked when the page ends first; 0 at the end.
  std::int32_t Borrow(const unsigned char** data, std::int32_t count);
  // Releases the cached data page, the extension pages, then the head page.
  void Close();

  bool IsInline() const { return m_head[0] == pagestore::kInlineStream; }
  std::uint64_t Length() const { return m_length; }
  std::uint64_t Position() const { return m_position; }
  std::size_t ExtensionPages() const { return m_extensions.size(); }
  // The vidx of data page d, from the head or extension tables; a page past
  // the tables throws lumo::PXVError.
  std::int64_t DataPageVidx(std::int64_t d) const;

 private:
  // The content at the read position, through the page cache, and how many
  // bytes of it the page holds from there (for the paged kind).
  const unsigned char* Here(std::uint64_t* inPage);
  [[noreturn]] void Fail(const std::string& what, std::uint64_t value) const;

  pagestore::ReadablePageStore* m_store = nullptr;
  std::int64_t m_headVidx = 0;
  unsigned char* m_head = nullptr;
  std::vector<unsigned char*> m_extensions;
  std::vector<std::int64_t> m_extensionVidx;
  std::uint64_t m_length = 0;
  std::uint64_t m_position = 0;
  std::int64_t m_cachedVidx = pagestore::kNoPage;
  unsigned char* m_cached = nullptr;
};
