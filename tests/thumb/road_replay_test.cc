// The whole road under a misbehaving stream, through the road fuzzer's body
// (which checks references, DIBs and image memory itself): what GetThumbnail
// answers for each kind of fault, and the inputs kept in
// fuzz/regressions/road/.
#define KEZ_FUZZ_REPLAY
#include "../../fuzz/road_fuzz.cc"

#include <gtest/gtest.h>

#include "support/kez_description_seeds.h"
#include "support/packed_writer.h"
#include "support/regressions.h"

namespace {

struct HostileCase {
  const char* name;
  bool pxv;
  std::vector<std::uint8_t> read, seek, stat;
  HRESULT expected;
};

std::vector<std::uint8_t> RoadInput(const HostileCase& c) {
  std::vector<std::uint8_t> document;
  if (c.pxv) {
    // Pages in file order: 0 and 1 the headers, 2 the root's head, 3 the blob's.
    document = kez::testing::SeedDescriptions(12, 8)[0].second.Encode();
  } else {
    const auto pixels = kez::testing::PatternPixels(6, 4, 2);
    document = kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(6, 4, pixels, true));
  }
  std::vector<std::uint8_t> input = {static_cast<std::uint8_t>(c.pxv ? 1 : 0), 63, 0};  // cx 64
  for (const auto* plan : {&c.read, &c.seek, &c.stat}) {
    input.push_back(static_cast<std::uint8_t>(plan->size()));
    input.insert(input.end(), plan->begin(), plan->end());
  }
  input.insert(input.end(), document.begin(), document.end());
  return input;
}

TEST(RoadReplay, HostileStreams) {
  const HostileCase cases[] = {
      {"kez sound", true, {}, {}, {}, S_OK},
      {"kez magic read fails", true, {0xE0}, {}, {}, S_FALSE},
      {"kez magic read claims a byte more", true, {0xE2}, {}, {}, S_FALSE},
      {"kez page read short", true, {0, 0x9F}, {}, {}, S_FALSE},
      {"kez page read short with S_FALSE", true, {0, 0, 0xC1}, {}, {}, S_FALSE},
      {"kez page read pending", true, {0, 0, 0, 0xE4}, {}, {}, S_FALSE},
      {"kez seek fails", true, {}, {0, 0x80}, {}, S_FALSE},
      {"kez seek to the root lands off", true, {}, {0, 0, 0xA1}, {}, S_FALSE},
      {"kez stat fails", true, {}, {}, {0x80}, S_FALSE},
      {"kez stat says 0", true, {}, {}, {0xB0}, S_FALSE},
      {"kez stat says 2^63", true, {}, {}, {0xB2}, S_OK},
      {"kez stat one byte short", true, {}, {}, {0xB4}, S_OK},
      {"packed sound", false, {}, {}, {}, S_OK},
      {"packed first read fails", false, {0xE0}, {}, {}, S_FALSE},
      {"packed first read claims a byte more", false, {0xE2}, {}, {}, S_FALSE},
      {"packed short reads are read again", false, {0x90, 0xC8, 0x81, 0x90, 0xC8, 0x81, 0x90, 0x90}, {}, {}, S_OK},
  };
  platform::testing::EchoNotices(false);
  for (const HostileCase& c : cases) {
    const std::vector<std::uint8_t> input = RoadInput(c);
    EXPECT_EQ(kez::fuzzing::RoadFuzzOne(input.data(), input.size()), c.expected) << c.name;
  }
  platform::testing::EchoNotices(true);
}

TEST(RoadReplay, KeptRegressionInputs) {
  platform::testing::EchoNotices(false);
  RecordProperty("replayed", kez::testing::ReplayRegressions("road", kez::fuzzing::RoadFuzzOne));
  platform::testing::EchoNotices(true);
}

}  // namespace
