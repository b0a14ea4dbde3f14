#include "check_context.h"

namespace kezthumb {

std::optional<Finding> RegistrationFinding(Registrations found, bool elevated, bool seen) {
  constexpr wchar_t kBoth[] =
      L"registration: for you (HKEY_CURRENT_USER) and for every user (HKEY_LOCAL_MACHINE): Explorer uses yours, "
      L"which hides the machine's";
  constexpr wchar_t kElevated[] =
      L"; with User Account Control on, programs run as administrator, as this one is, use the machine's";
  if (found.user && found.machine) return Finding{Mark::kNote, std::wstring(kBoth) + (elevated ? kElevated : L"")};
  if (found.machine)
    return Finding{Mark::kNote, L"registration: for every user of this PC (HKEY_LOCAL_MACHINE), which Explorer uses"};
  if (found.user && elevated && seen)
    return Finding{Mark::kNote,
                   L"registration: for you alone (HKEY_CURRENT_USER), which this program, run as administrator, "
                   L"sees too (User Account Control is off); with it on, programs run as administrator would not"};
  if (found.user && elevated)
    return Finding{Mark::kProblem,
                   L"registration: for you alone (HKEY_CURRENT_USER): programs run as administrator, as this one is, "
                   L"do not see it, nor show thumbnails in their open and save dialogs; to have them too, remove "
                   L"kezthumb in Apps & features and install it for every user (msiexec /i with its package and "
                   L"ALLUSERS=1, from an administrator's Command Prompt)"};
  return std::nullopt;
}

}  // namespace kezthumb
