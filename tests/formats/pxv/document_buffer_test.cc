#include "formats/pxv/document_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "lumo/errors.h"
#include "support/kez_writer.h"

namespace {

using kez::testing::BuildRootRecord;
using kez::testing::KezBuilder;
using kez::testing::KezRootOptions;
using kez::testing::KezStream;

using Bytes = std::vector<std::uint8_t>;

// Loads `root` as the content of the page stream at vidx 0.
std::string Load(const Bytes& root, KezBuilder::StreamOptions options = {}) {
  KezBuilder builder;
  builder.AddStream(0, root, options);
  kez::testing::KezDocument doc = builder.Finish({});
  KezStream file(doc);
  auto store = pagestore::OpenPageStore(&file);
  PageStream stream;
  stream.Open(store.get(), 0);
  try {
    DocumentBuffer document = LoadDocumentBuffer(stream);
    std::free(document.buffer);
    stream.Close();
    return "ok";
  } catch (const lumo::PXVError& e) {
    stream.Close();
    return e.what();
  }
}

bool Verifies(const Bytes& root) { return VerifyDocumentBuffer(root.data(), root.size()); }

const kez::doc::DocRoot* Root(const Bytes& root) { return kez::doc::GetDocRoot(root.data()); }

std::size_t OffsetIn(const Bytes& buffer, const void* p) {
  return static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - buffer.data());
}

// The generated tables hide their flatbuffers::Table base.
template <typename T>
const std::uint8_t* FieldAddress(const T* table, flatbuffers::voffset_t field) {
  return reinterpret_cast<const flatbuffers::Table*>(table)->GetAddressOf(field);
}

KezRootOptions Full() {
  KezRootOptions options;
  options.width = 640;
  options.height = 480;
  options.blobVidx = 77;
  return options;
}

TEST(RootRecord, FullRecordVerifiesAndCarriesTheThumbRef) {
  const Bytes root = BuildRootRecord(Full());
  ASSERT_EQ(Load(root), "ok");
  const kez::doc::ThumbRef* ref = Root(root)->thumb_ref();
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->width(), 640);
  EXPECT_EQ(ref->height(), 480);
  EXPECT_EQ(ref->vidx(), 77);
  // Every member of DocUnionK is present in the built record.
  const auto* k = Root(root)->f17()->f1()->Get(0)->f38()->f0();
  ASSERT_EQ(k->size(), 11u);
  for (unsigned i = 0; i < 11; ++i) EXPECT_EQ(static_cast<int>(k->Get(i)->value_type()), static_cast<int>(i + 1));
}

TEST(RootRecord, PagedRootStreamLoadsToo) {
  KezBuilder::StreamOptions options;
  options.kind = kez::testing::StreamKind::Paged;
  EXPECT_EQ(Load(BuildRootRecord(Full()), options), "ok");
}

TEST(RootRecord, EmptyAndElevenByteRootsAreWrong) {
  EXPECT_EQ(Load({}), "Wrong binary format");
  Bytes eleven = BuildRootRecord(Full());
  eleven.resize(11);
  EXPECT_EQ(Load(eleven), "Wrong binary format");
}

// A root table with no fields: root offset 8, vtable {4, 4} at 4, table at 8.
TEST(RootRecord, RootWithoutFieldsVerifiesAndHasNoThumbRef) {
  const Bytes root = {8, 0, 0, 0, 4, 0, 4, 0, 4, 0, 0, 0};
  EXPECT_EQ(Load(root), "ok");
  EXPECT_EQ(Root(root)->thumb_ref(), nullptr);
  KezRootOptions bare;
  bare.withThumbRef = false;
  bare.fillOtherFields = false;
  EXPECT_EQ(Load(BuildRootRecord(bare)), "ok");
}

// Hand-made roots: root offset 36, vtable of 13 slots at 4, the table at 36
// with ThumbRef at table offset `field`.
Bytes HandMadeRoot(std::uint16_t field, std::uint32_t rootOffset = 36, std::uint16_t vtableSize = 30) {
  Bytes b(60, 0);
  auto put16 = [&](std::size_t at, std::uint16_t v) { b[at] = v & 0xFF, b[at + 1] = v >> 8; };
  // Bytes past the buffer's end are dropped: a struct may hang over it.
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
      if (at + i < b.size()) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(0, rootOffset);
  put16(4, vtableSize);
  put16(6, 24);
  put16(4 + 4 + 2 * 12, field);
  put32(36, 32);  // soffset from the table back to the vtable at 4
  put32(36 + field, 16);
  put32(36 + field + 4, 9);
  put32(36 + field + 8, 5);
  return b;
}

struct HandMadeCase {
  const char* name;
  Bytes root;
  bool verifies;
};

class HandMadeRoots : public ::testing::TestWithParam<HandMadeCase> {};

TEST_P(HandMadeRoots, FollowTheVerifierRules) { EXPECT_EQ(Verifies(GetParam().root), GetParam().verifies); }

INSTANTIATE_TEST_SUITE_P(
    Cases, HandMadeRoots,
    ::testing::Values(HandMadeCase{"aligned_struct", HandMadeRoot(4), true},
                      HandMadeCase{"struct_off_8_byte_alignment", HandMadeRoot(8), false},
                      HandMadeCase{"root_offset_zero", HandMadeRoot(4, 0), false},
                      HandMadeCase{"root_offset_outside", HandMadeRoot(4, 60), false},
                      HandMadeCase{"root_offset_huge", HandMadeRoot(4, 0x80000000u), false},
                      HandMadeCase{"table_not_4_aligned", HandMadeRoot(4, 34), false},
                      HandMadeCase{"odd_vtable_length", HandMadeRoot(4, 36, 29), false},
                      HandMadeCase{"vtable_past_the_end", HandMadeRoot(4, 36, 200), false},
                      HandMadeCase{"struct_past_the_end", HandMadeRoot(16), false},
                      HandMadeCase{"older_schema_short_vtable", HandMadeRoot(4, 36, 8), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RootRecord, HandMadeThumbRefReadsItsFields) {
  const Bytes root = HandMadeRoot(4);
  const kez::doc::ThumbRef* ref = Root(root)->thumb_ref();
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->width(), 16);
  EXPECT_EQ(ref->height(), 9);
  EXPECT_EQ(ref->vidx(), 5);
}

TEST(RootRecord, StringWithoutTerminatorInDocTableEFails) {
  Bytes root = BuildRootRecord(Full());
  const flatbuffers::String* s = Root(root)->f17()->f1()->Get(0)->f16();
  ASSERT_NE(s, nullptr);
  const std::size_t terminator = OffsetIn(root, s->c_str()) + s->size();
  ASSERT_EQ(root[terminator], 0);
  root[terminator] = 'x';
  EXPECT_EQ(Load(root), "Wrong binary format");
}

TEST(RootRecord, SeventhOfTenDocTableEMalformedFailsTheWholeRecord) {
  KezRootOptions options = Full();
  options.docTableECount = 10;
  Bytes root = BuildRootRecord(options);
  const auto* entries = Root(root)->f17()->f1();
  ASSERT_EQ(entries->size(), 10u);
  // Its vtable offset now points far outside the buffer.
  const std::size_t table = OffsetIn(root, entries->Get(6));
  root[table + 3] = 0x40;
  EXPECT_EQ(Load(root), "Wrong binary format");
}

TEST(RootRecord, MisalignedEightByteFieldFails) {
  Bytes root = BuildRootRecord(Full());
  // DocTableC field 2 is 8 bytes; its slot moved by 4 is no longer aligned.
  const auto* c = Root(root)->f16();
  const std::size_t table = OffsetIn(root, c);
  std::int32_t soffset;
  std::memcpy(&soffset, root.data() + table, 4);
  const std::size_t slot = table - static_cast<std::size_t>(soffset) + 4 + 2 * 2;
  const std::uint16_t field = static_cast<std::uint16_t>(root[slot] | (root[slot + 1] << 8));
  ASSERT_EQ((table + field) % 8, 0u);
  root[slot] = static_cast<std::uint8_t>(field - 4);
  EXPECT_EQ(Load(root), "Wrong binary format");
}

// Codes above the last member are accepted whatever the value is; a known
// code on the same non-table value is not.
struct UnionCodeCase {
  std::uint8_t code;
  bool verifies;
};

class DocUnionACodes : public ::testing::TestWithParam<UnionCodeCase> {};

TEST_P(DocUnionACodes, UnknownCodesAreNotFollowed) {
  KezRootOptions options = Full();
  options.unknownUnionCode = 9;
  Bytes root = BuildRootRecord(options);
  const auto* entries = Root(root)->f13();
  const auto* entry = entries->Get(entries->size() - 1);
  const std::uint8_t* code = FieldAddress(entry, kez::doc::DocTableA::VT_VALUE_TYPE);
  ASSERT_NE(code, nullptr);
  root[OffsetIn(root, code)] = GetParam().code;
  EXPECT_EQ(Verifies(root), GetParam().verifies) << int(GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Codes, DocUnionACodes,
                         ::testing::Values(UnionCodeCase{6, true}, UnionCodeCase{9, true}, UnionCodeCase{255, true},
                                           UnionCodeCase{0, true}, UnionCodeCase{2, false}, UnionCodeCase{5, false}));

// The unions of DocTableF, DocTableK and DocTableM accept their first code
// past the last member the same way.
TEST(RootRecord, CodesPastTheLastMemberOfEveryUnionAreAccepted) {
  const Bytes original = BuildRootRecord(Full());
  const auto* e = Root(original)->f17()->f1()->Get(0);
  const std::uint8_t* f = FieldAddress(e->f28()->Get(1), kez::doc::DocTableF::VT_VALUE_TYPE);
  const std::uint8_t* k = FieldAddress(e->f38()->f0()->Get(0), kez::doc::DocTableK::VT_VALUE_TYPE);
  const auto* k11 = e->f38()->f0()->Get(10)->value_as_DocTableK11();
  ASSERT_NE(k11, nullptr);
  const std::uint8_t* m = FieldAddress(k11->f5()->Get(2), kez::doc::DocTableM::VT_VALUE_TYPE);
  struct Patch {
    const std::uint8_t* at;
    std::uint8_t past;
  };
  for (const Patch p : {Patch{f, 4}, Patch{k, 12}, Patch{m, 7}}) {
    ASSERT_NE(p.at, nullptr);
    Bytes root = original;
    root[OffsetIn(original, p.at)] = p.past;
    EXPECT_TRUE(Verifies(root)) << int(p.past);
  }
}

TEST(RootRecord, RootPastTwoGigabytesIsRejectedBeforeTheVerifier) {
  const Bytes root = BuildRootRecord(Full());
  EXPECT_FALSE(VerifyDocumentBuffer(root.data(), 0x7FFFFFFF));
}

}  // namespace
