// `kezthumb --check`'s line on where kezthumb is registered, for every state
// and for a program run as administrator or not, which found the class or not
// (Wine runs every program as administrator and its COM reads the machine's
// classes alone, so its report tests see few of them).
#include "kezthumb/check_context.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kezthumb {
namespace {

struct ContextCase {
  bool user, machine, elevated, seen;
  std::optional<Mark> mark;  // none: no line
  std::wstring text;
};

const std::wstring kBoth =
    L"registration: for you (HKEY_CURRENT_USER) and for every user (HKEY_LOCAL_MACHINE): Explorer uses yours, which "
    L"hides the machine's";
const std::wstring kMachine = L"registration: for every user of this PC (HKEY_LOCAL_MACHINE), which Explorer uses";

TEST(RegistrationFinding, SaysWhichRegistrationEachProgramSees) {
  const ContextCase cases[] = {
      {false, false, false, false, std::nullopt, L""},
      {false, false, true, false, std::nullopt, L""},
      {true, false, false, true, std::nullopt, L""},
      {true, false, true, true, Mark::kNote,
       L"registration: for you alone (HKEY_CURRENT_USER), which this program, run as administrator, sees too (User "
       L"Account Control is off); with it on, programs run as administrator would not"},
      {true, false, true, false, Mark::kProblem,
       L"registration: for you alone (HKEY_CURRENT_USER): programs run as administrator, as this one is, do not see "
       L"it, nor show thumbnails in their open and save dialogs; to have them too, remove kezthumb in Apps & features "
       L"and install it for every user (msiexec /i with its package and ALLUSERS=1, from an administrator's Command "
       L"Prompt)"},
      {false, true, false, true, Mark::kNote, kMachine},
      {false, true, true, true, Mark::kNote, kMachine},
      {true, true, false, true, Mark::kNote, kBoth.c_str()},
      {true, true, true, true, Mark::kNote,
       kBoth + L"; with User Account Control on, programs run as administrator, as this one is, use the machine's"},
  };
  for (const ContextCase& c : cases) {
    const auto finding = RegistrationFinding({c.user, c.machine}, c.elevated, c.seen);
    SCOPED_TRACE(testing::Message() << "user " << c.user << ", machine " << c.machine << ", elevated " << c.elevated
                                    << ", seen " << c.seen);
    ASSERT_EQ(finding.has_value(), c.mark.has_value());
    if (!finding) continue;
    EXPECT_EQ(finding->mark, *c.mark);
    EXPECT_EQ(finding->text, c.text);
  }
}

}  // namespace
}  // namespace kezthumb
