#include "lumo/errors.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace {

TEST(Errors, FExceptionKeepsMessageAndCodeThroughCopies) {
  const lumo::FException original("Broken page stream.", 2);
  const lumo::FException copy(original);
  lumo::FException assigned("other", 7);
  assigned = original;
  for (const lumo::FException* e : {&original, &copy, static_cast<const lumo::FException*>(&assigned)}) {
    EXPECT_STREQ(e->what(), "Broken page stream.");
    EXPECT_EQ(e->code, 2);
  }
}

TEST(Errors, EveryTypeIsARuntimeErrorWithItsMessage) {
  auto message = [](auto thrower) -> std::string {
    try {
      thrower();
    } catch (const std::runtime_error& e) {
      return e.what();
    } catch (...) {
      return "not a runtime_error";
    }
    return "nothing thrown";
  };
  EXPECT_EQ(message([] { throw lumo::PXVError("Invalid root."); }), "Invalid root.");
  EXPECT_EQ(message([] { throw ThumbError("Can't read enough"); }), "Can't read enough");
  EXPECT_EQ(message([] { throw ThumbError(std::string("Seek fail")); }), "Seek fail");
  EXPECT_EQ(message([] { throw lumo::FException("x", 2); }), "x");
}

TEST(Errors, PXVErrorCaughtAsStdException) {
  try {
    throw lumo::PXVError("bad page map");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "bad page map");
    return;
  }
  FAIL() << "not caught as std::exception";
}

}  // namespace
