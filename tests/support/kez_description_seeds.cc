#include "support/kez_description_seeds.h"

namespace kez::testing {

std::vector<std::pair<std::string, KezDescription>> SeedDescriptions(int width, int height) {
  const KezPicture picture = TestPicture(width, height, 5);
  KezRootOptions rootOptions;
  rootOptions.width = width;
  rootOptions.height = height;
  rootOptions.blobVidx = 3;
  KezDescription base;
  base.root = BuildRootRecord(rootOptions);
  base.blob = RawBlob(picture.Bytes());

  std::vector<std::pair<std::string, KezDescription>> seeds;
  seeds.emplace_back("raw_inline", base);
  KezDescription zstd = base;
  KezZstdOptions frames;
  frames.frames = 2;
  frames.checksum = true;
  zstd.blob = ZstdBlob(picture.Bytes(), frames);
  seeds.emplace_back("zstd_inline", zstd);
  KezDescription paged = zstd;
  paged.rootPaged = true;
  paged.blobPaged = true;
  paged.extraExtensionPages = 2;
  paged.continuationPages = 2;
  paged.reverseFidx = true;
  paged.counter0 = 5;
  paged.counter1 = -1;
  paged.pagedKind = 7;
  seeds.emplace_back("paged_chains", paged);
  KezDescription lean = base;
  rootOptions.fillOtherFields = false;
  rootOptions.blobVidx = 9;
  lean.root = BuildRootRecord(rootOptions);
  lean.blobVidx = 9;
  lean.blobPaged = true;
  lean.extraBlobDataPages = 1;
  lean.extraDeclaredPages = 3;
  lean.tailBytes = 100;
  lean.version0 = -3;
  lean.version1 = -128;
  lean.patches.push_back({0x30, 12, 0x5A5A5A5A5A5A5A5AULL});  // a header field the reader ignores
  seeds.emplace_back("lean_root_patched", lean);
  return seeds;
}

}  // namespace kez::testing
