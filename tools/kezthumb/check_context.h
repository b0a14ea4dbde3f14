// Where kezthumb's class is registered, and which registration a program
// sees: the user's hides the machine's, and programs run as administrator
// see the machine's alone.
#pragma once

#include <optional>
#include <string>

#include "check_report.h"

namespace kezthumb {

struct Registrations {
  bool user = false;     // under HKEY_CURRENT_USER\Software\Classes
  bool machine = false;  // under HKEY_LOCAL_MACHINE\Software\Classes
};

struct Finding {
  Mark mark;
  std::wstring text;
};

// The report's line on the registrations for a program run as administrator
// (`elevated`) or not, which COM found the class for (`seen`) or not; nothing
// where the class's own line says it all (one registration for the user, or
// none). COM passes over the user's classes for programs run as
// administrator unless User Account Control is off: what this one saw tells.
std::optional<Finding> RegistrationFinding(Registrations found, bool elevated, bool seen);

}  // namespace kezthumb
