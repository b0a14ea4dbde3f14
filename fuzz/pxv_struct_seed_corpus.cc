// Writes seed descriptions for the structure-aware ".kez" fuzzer into the
// directory given on the command line.
#include <cstdio>

#include "seed_writer.h"
#include "support/kez_description_seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  kez::fuzzing::SeedWriter seeds(argv[1]);
  for (const auto& [name, description] : kez::testing::SeedDescriptions(12, 8))
    seeds.Write(name + ".desc", description.Encode());
  return seeds.Finish();
}
