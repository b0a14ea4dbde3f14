// Exact floor(n / F) for the straight-alpha compositing quotients by one
// multiplication per channel instead of a division.
#pragma once

#include <cstdint>

namespace lumo {

// Valid for 1 <= F < 2^17 and n < 2^25 (every quotient here is a weighted
// mean of two channel values, so n <= 255 F). With m = floor(2^42 / F) + 1,
// n m / 2^42 = n / F + e where 0 < e < n / 2^42 < 2^-17 < 1 / F, and a
// quotient's fraction is at most 1 - 1 / F, so the floor is exact; n m stays
// below 2^51.
class ExactDivider {
 public:
  explicit ExactDivider(std::uint32_t divisor)
      : multiplier_((std::uint64_t{1} << 42) / divisor + 1) {}
  std::uint32_t operator()(std::uint32_t n) const {
    return static_cast<std::uint32_t>((n * multiplier_) >> 42);
  }

 private:
  std::uint64_t multiplier_;
};

}  // namespace lumo
