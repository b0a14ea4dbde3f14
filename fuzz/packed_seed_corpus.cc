// Writes seed documents for the packed fuzzer into the directory given on the
// command line: raw and zlib previews, decoys, odd blocks, bare zlib streams.
#include <cstdio>
#include <string>

#include "seed_writer.h"
#include "support/packed_writer.h"

using kez::testing::PackedBlock;
using kez::testing::PackedDocument;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  kez::fuzzing::SeedWriter seeds(argv[1]);
  auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) { seeds.Write(name, bytes); };
  const auto pixels = kez::testing::PatternPixels(6, 4, 2);
  write("raw.kelpack", kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(6, 4, pixels, false)));
  write("zlib.kelpack", kez::testing::WritePackedDocument(kez::testing::MakePackedPreviewDocument(6, 4, pixels, true)));

  PackedDocument odd = kez::testing::MakePackedPreviewDocument(6, 4, pixels, true);
  odd.xml = "<!--Kelapp--><Kelapp><Thumb width=\"+6\" height=\"4\" bin=\"thumbnail\"/></Kelapp>";
  PackedBlock unknown = odd.blocks[1];
  unknown.compression = 2;
  PackedBlock empty;
  empty.name = "empty";
  odd.blocks.insert(odd.blocks.begin(), {empty, unknown});
  write("odd_blocks.kelpack", kez::testing::WritePackedDocument(odd));

  PackedDocument wide = kez::testing::MakePackedPreviewDocument(1024, 1, kez::testing::PatternPixels(1024, 1), true);
  wide.blocks[1].rawSize = 0xFFFFFFFF;
  write("wide_huge_raw_size.kelpack", kez::testing::WritePackedDocument(wide));

  const std::string xml = kez::testing::ThumbXml("6", "4", "thumbnail");
  write("header.xml", std::vector<std::uint8_t>(xml.begin(), xml.end()));
  write("stream.zlib", kez::testing::ZlibCompress(kez::testing::PixelBytes(pixels)));
  return seeds.Finish();
}
