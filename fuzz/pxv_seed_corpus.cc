// Writes seed documents for the ".kez" fuzzer into the directory given on
// the command line: every storage layout the writer knows, small pictures.
#include <cstdio>
#include <string>

#include "seed_writer.h"
#include "support/kez_writer.h"

using kez::testing::KezOptions;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  kez::fuzzing::SeedWriter seeds(argv[1]);
  auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) { seeds.Write(name, bytes); };
  const auto picture = kez::testing::TestPicture(24, 16, 3);
  KezOptions raw;
  write("raw_inline.kez", kez::testing::BuildKezBytes(picture, raw));
  KezOptions zstd;
  zstd.blob = KezOptions::Blob::Zstd;
  zstd.zstd.frames = 2;
  zstd.zstd.checksum = true;
  write("zstd_frames.kez", kez::testing::BuildKezBytes(picture, zstd));
  KezOptions open = zstd;
  open.zstd.declareSize = false;
  write("zstd_open_frames.kez", kez::testing::BuildKezBytes(picture, open));
  KezOptions paged;
  paged.rootStream.kind = kez::testing::StreamKind::Paged;
  paged.blobStream.kind = kez::testing::StreamKind::Paged;
  paged.blobStream.extraExtensionPages = 1;
  paged.store.counter0 = 9;
  paged.store.counter1 = 2;
  write("paged.kez", kez::testing::BuildKezBytes(picture, paged));
  KezOptions continued;
  continued.store.minContinuationPages = 1;
  continued.root.fillOtherFields = false;
  write("continued.kez", kez::testing::BuildKezBytes(picture, continued));
  // Bare inputs for the verifier and the zstd path.
  kez::testing::KezRootOptions root;
  root.width = 24;
  root.height = 16;
  write("root.fb", kez::testing::BuildRootRecord(root));
  write("frames.zst", kez::testing::ZstdFrames(picture.Bytes(), {}));
  return seeds.Finish();
}
