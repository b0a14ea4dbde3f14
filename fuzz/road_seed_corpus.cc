// Writes seed inputs for the whole-road fuzzer into the directory given on
// the command line: ".kez" descriptions and raw documents, packed documents,
// each with a well-behaved stream and with one that misbehaves.
#include <cstdio>

#include "seed_writer.h"
#include "support/kez_description_seeds.h"
#include "support/packed_writer.h"

namespace {

std::vector<std::uint8_t> RoadInput(std::uint8_t flags, unsigned cx, std::vector<std::uint8_t> read,
                                    std::vector<std::uint8_t> seek, std::vector<std::uint8_t> stat,
                                    const std::vector<std::uint8_t>& document) {
  std::vector<std::uint8_t> out = {flags, static_cast<std::uint8_t>(cx - 1), static_cast<std::uint8_t>((cx - 1) >> 8)};
  for (auto* plan : {&read, &seek, &stat}) {
    out.push_back(static_cast<std::uint8_t>(plan->size()));
    out.insert(out.end(), plan->begin(), plan->end());
  }
  out.insert(out.end(), document.begin(), document.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  kez::fuzzing::SeedWriter seeds(argv[1]);
  const auto descriptions = kez::testing::SeedDescriptions(12, 8);
  const auto pixels = kez::testing::PatternPixels(6, 4, 2);
  const auto packed = kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(6, 4, pixels, true));
  const auto packedRaw = kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(6, 4, pixels, false));
  const std::vector<std::uint8_t> kezBytes = kez::testing::ExpandKezDescription(
      descriptions[0].second.Encode().data(), descriptions[0].second.Encode().size()).Bytes();
  for (const auto& [name, description] : descriptions)
    seeds.Write("kez_" + name, RoadInput(1, 256, {}, {}, {}, description.Encode()));
  seeds.Write("kez_short_reads", RoadInput(1, 96, {0x10, 0x10, 0x10, 0xA0}, {}, {0xA1}, descriptions[1].second.Encode()));
  seeds.Write("kez_raw_bytes", RoadInput(3, 1024, {}, {0x10, 0xC0}, {}, kezBytes));
  seeds.Write("packed_zlib", RoadInput(0, 128, {}, {}, {}, packed));
  seeds.Write("packed_raw_short", RoadInput(0, 7, {0x10, 0x10, 0x10, 0xC8}, {0xA3}, {}, packedRaw));
  return seeds.Finish();
}
