// Sound descriptions (support/kez_description.h) of small ".kez" documents in
// every layout the description can say: the structure-aware fuzzer's seeds,
// and the documents its test reads back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/kez_description.h"

namespace kez::testing {

// Named descriptions whose documents all hold TestPicture(width, height, 5).
std::vector<std::pair<std::string, KezDescription>> SeedDescriptions(int width, int height);

}  // namespace kez::testing
