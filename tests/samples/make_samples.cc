// Writes the sample documents shipped in samples/ with the project's own
// document writers:
//   make-samples DIR  ->  DIR/painting.kez, DIR/painting.kelpack
// The output is the same bytes on every run and platform.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/picture.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr std::uint32_t kSeed = 2024;

bool Save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "make-samples: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-samples DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  using namespace kez::testing;
  KezPicture picture;
  picture.width = kWidth;
  picture.height = kHeight;
  picture.pixels = PaintingLikePicture(kWidth, kHeight, kSeed);

  // ".kez": the stored preview zstd-compressed, as the painting program saves it.
  KezOptions kez;
  kez.blob = KezOptions::Blob::Zstd;
  kez.zstd.level = 19;
  kez.zstd.checksum = true;
  kez.store.freePages = 0;
  const bool kezOk = Save(dir + "/painting.kez", BuildKezBytes(picture, kez));

  // Packed: the same picture in a zlib-compressed "PAC " block.
  const PackedDocument packed = MakePackedPreviewDocument(kWidth, kHeight, picture.pixels, true);
  const bool packedOk = Save(dir + "/painting.kelpack", WritePackedDocument(packed));
  return kezOk && packedOk ? 0 : 1;
}
