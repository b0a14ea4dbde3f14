// Writes seed inputs for the whole-road fuzzer into the directory given on
// the command line: ".kez" descriptions and raw documents, packed documents,
// each with a well-behaved stream and with one that misbehaves.
#include <cstdio>
#include <iterator>
#include <string>

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
  // zstd frame headers across the blob's first page end, the first of them
  // split where the rest of it reads as another frame.
  const std::vector<std::uint8_t> picture = kez::testing::TestPicture(24, 16, 5).Bytes();
  // A frame of zstd's old format 0.7 over the first 300 bytes.
  std::vector<std::uint8_t> old = {0x27, 0xB5, 0x2F, 0xFD, 0xA0, 0x2C, 0x01, 0x00, 0x00, 0x40, 0x01, 0x2C};
  old.insert(old.end(), picture.begin(), picture.begin() + 300);
  old.insert(old.end(), {0xC0, 0x00, 0x00});
  auto acrossPages = [&](const kez::testing::ZstdFrameHeader& header, std::size_t split, bool hidden,
                         bool oldFormat = false) {
    const std::size_t first = header.sizeBytes == 1 ? 200 : 300;
    std::vector<std::uint8_t> frames = kez::testing::ZstdSkippableFrame(kez::testing::kKezPageSize - 9 - split);
    frames.resize(8);  // the zeros are the description's to add
    if (hidden) frames.insert(frames.end(), {0x28, 0xB5, 0x2F, 0xFD, 0xC3});
    for (const auto& frame : {oldFormat ? old : kez::testing::ZstdRawFrame(picture.data(), first, header),
                              kez::testing::ZstdFrames({picture.begin() + first, picture.end()}, {})})
      frames.insert(frames.end(), frame.begin(), frame.end());
    kez::testing::KezDescription across = kez::testing::SeedDescriptions(24, 16)[2].second;  // paged
    across.skippableZeros = true;
    across.blob = kez::testing::ZstdBlobOf(frames, picture.size());
    return RoadInput(1, 97, {}, {}, {}, across.Encode());
  };
  seeds.Write("kez_zstd_header_hides_a_frame", acrossPages({}, 5, true));
  seeds.Write("kez_zstd_old_format_split", acrossPages({}, 3, false, true));
  const kez::testing::ZstdFrameHeader headers[] = {{true, 1, 0, 0}, {true, 2, 1, 0}, {false, 4, 4, 0}, {false, 8, 2, 0}};
  for (std::size_t h = 0; h < std::size(headers); ++h)
    seeds.Write("kez_zstd_header_split_" + std::to_string(h), acrossPages(headers[h], 1 + h * 5 % (headers[h].Size() - 1), false));
  seeds.Write("packed_zlib", RoadInput(0, 128, {}, {}, {}, packed));
  seeds.Write("packed_raw_short", RoadInput(0, 7, {0x10, 0x10, 0x10, 0xC8}, {0xA3}, {}, packedRaw));
  return seeds.Finish();
}
