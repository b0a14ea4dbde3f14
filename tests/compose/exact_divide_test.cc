#include "compose/exact_divide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace lumo {
namespace {

// Every divisor the compositing can form, with the numerators at and next to
// each multiple where a reciprocal would first go wrong, up to 255 F + F - 1.
TEST(ExactDivider, MatchesIntegerDivisionAtEveryMultipleEdge) {
  for (std::uint32_t F = 1; F <= 129795; ++F) {
    const ExactDivider div(F);
    for (std::uint32_t k : {1u, 2u, 127u, 254u, 255u}) {
      const std::uint32_t n = k * F;
      if (n >= (1u << 25)) continue;
      ASSERT_EQ(div(n - 1), (n - 1) / F) << F << " " << n - 1;
      ASSERT_EQ(div(n), k) << F << " " << n;
      ASSERT_EQ(div(n + F - 1), k) << F << " " << n + F - 1;
    }
    ASSERT_EQ(div(0), 0u);
  }
}

TEST(ExactDivider, MatchesIntegerDivisionOnRandomQuotients) {
  std::mt19937 rng(7);
  for (int i = 0; i < 1000000; ++i) {
    const std::uint32_t F = 1 + rng() % 131071;
    const std::uint64_t limit = std::min<std::uint64_t>(256ull * F, 1u << 25);
    const std::uint32_t n = static_cast<std::uint32_t>(rng() % limit);
    ASSERT_EQ(ExactDivider(F)(n), n / F) << F << " " << n;
  }
}

}  // namespace
}  // namespace lumo
