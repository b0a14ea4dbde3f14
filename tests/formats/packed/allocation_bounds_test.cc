// Numbers in a document never size an allocation the stream cannot back,
// and memory running out gives both roads the same answer. This binary
// replaces the global operator new to see the largest request, and to
// refuse large ones.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "dll/class_factory.h"
#include "packed_test_util.h"
#include "platform/testing.h"
#include "support/kez_writer.h"
#include "support/two_roads.h"

namespace {

std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};
// Requests in [g_refusedFrom, g_refusedTo) fail.
std::atomic<std::size_t> g_refusedFrom{0}, g_refusedTo{0};

void* Allocate(std::size_t size) {
  if (size >= g_refusedFrom.load(std::memory_order_relaxed) && size < g_refusedTo.load(std::memory_order_relaxed))
    return nullptr;
  if (g_watching.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// These are the replacement allocation functions themselves: malloc and free
// pair up here, whatever the new/delete mismatch check believes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace kez::testing {
namespace {

// The largest single operator-new request while the document is read.
std::size_t LargestAllocation(const std::vector<std::uint8_t>& bytes, bool& result) {
  TestStream stream(bytes);
  lumo::CImage32 image;
  g_largest = 0;
  g_watching = true;
  result = ReadPackedDocument(image, &stream);
  g_watching = false;
  return g_largest;
}

constexpr std::size_t kSmall = (1u << 20) + 4096;  // one read piece and change

PackedDocument Preview1x1(std::uint32_t compression) {
  PackedDocument document;
  document.xml = ThumbXml("1", "1", "p");
  PackedBlock block;
  block.name = "p";
  block.compression = compression;
  block.payload = {1, 2, 3, 4};
  document.blocks.push_back(block);
  return document;
}

struct BoundCase {
  const char* label;
  PackedDocument document;
  bool result;
};

class AllocationBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(AllocationBound, StaysWithinWhatTheStreamHolds) {
  bool result = false;
  const std::size_t largest = LargestAllocation(WritePackedDocument(GetParam().document), result);
  EXPECT_EQ(result, GetParam().result);
  EXPECT_LE(largest, kSmall);
}

std::vector<BoundCase> Cases() {
  std::vector<BoundCase> cases;
  {
    PackedDocument d = Preview1x1(0);
    d.xmlLength = 0x9FFFFF;  // the file holds a few hundred bytes
    cases.push_back({"XmlLengthBeyondTheFile", d, false});
  }
  {
    PackedDocument d = Preview1x1(0);
    d.blocks[0].rawSize = 0xFFFFFFFF;
    cases.push_back({"StoredRawSizeBeyondTheFile", d, false});
  }
  {
    PackedDocument d = Preview1x1(1);
    d.blocks[0].storedSize = 60000;  // 60000 x 1032 is under the inflate cap
    d.blocks[0].rawSize = 60000u * 1000u;
    cases.push_back({"ZlibStoredSizeBeyondTheFile", d, false});
  }
  {
    PackedDocument d = Preview1x1(1);
    d.blocks[0].storedSize = 0xFFFFFFFF;
    d.blocks[0].rawSize = 0xFFFFFFFF;
    cases.push_back({"ZlibSizesAtTheirLimit", d, false});
  }
  {
    PackedDocument d = Preview1x1(1);
    d.blocks[0].rawSize = 0xFFFFFFFF;  // bounded by 1032 x the few stored bytes
    cases.push_back({"ZlibRawSizeHugeButDecodable", d, true});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Documents, AllocationBound, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.label); });

// A zlib preview whose rawSize asks for more than the 64 MiB inflate cap is
// refused; at the cap it is read.
class InflateCap : public ::testing::TestWithParam<std::tuple<std::uint32_t, bool>> {};

TEST_P(InflateCap, LimitsTheInflateBuffer) {
  const auto [rawSize, accepted] = GetParam();
  // Noisy enough that 1032 x the stored size exceeds the cap.
  const std::vector<std::uint32_t> pixels = PatternPixels(256, 256, 4);
  PackedDocument document = MakePackedPreviewDocument(256, 256, pixels, true);
  document.blocks[1].rawSize = rawSize;
  ASSERT_GT(LayOutPackedDocument(document).bytes.size() * 1032, (64u << 20) + 1);
  bool result = false;
  const std::size_t largest = LargestAllocation(WritePackedDocument(document), result);
  EXPECT_EQ(result, accepted);
  EXPECT_LE(largest, 64u << 20);
}

INSTANTIATE_TEST_SUITE_P(Sizes, InflateCap,
                         ::testing::Values(std::make_tuple(64u << 20, true), std::make_tuple((64u << 20) + 1, false)));

// Without memory for the rows road's buffers (rows of 4 KiB, 18 of them
// under a thumbnail row) the rows are declined and the picture is read
// whole, as the whole picture's road reads it.
TEST(AllocationRefused, LeavesBothRoadsAlike) {
  KezOptions zstd;
  zstd.blob = KezOptions::Blob::Zstd;
  const KezDocument kez = BuildKez(TestPicture(1024, 1024), zstd);
  const std::vector<std::uint8_t> packed =
      WritePackedDocument(MakePackedPreviewDocument(1024, 1024, PatternPixels(1024, 1024), true));
  struct Road {
    std::int32_t kind;
    std::function<std::unique_ptr<TestStream>()> stream;
    HRESULT expected;
  };
  const Road roads[] = {
      {ClassFactory::kPxvKind, [&] { return std::make_unique<KezStream>(kez); }, S_OK},
      {ClassFactory::kPackedKind, [&] { return std::make_unique<TestStream>(packed); }, S_OK},
  };
  for (const Road& road : roads) {
    const auto byRows = road.stream(), whole = road.stream();
    g_refusedFrom = 66 * 1024;
    g_refusedTo = 1 << 20;
    const RoadAnswer rows = ThumbnailByRows(road.kind, byRows.get(), 64);
    const RoadAnswer picture = ThumbnailWhole(road.kind, whole.get(), 64);
    g_refusedTo = 0;
    EXPECT_EQ(rows.hr, road.expected);
    EXPECT_TRUE(rows == picture);
  }
}

}  // namespace
}  // namespace kez::testing
