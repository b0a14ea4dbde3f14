// The report of `kezthumb --check` (Windows): one finding a line, each
// marked, and the findings that are tables of their own.
#pragma once

#include <string>

#include "platform/com.h"

namespace kezthumb {

enum class Mark {
  kOk,       // holds
  kProblem,  // stands between Explorer and the thumbnails
  kUnsure,   // might, and cannot be told without guessing
  kNote,     // worth knowing, stands in no way
};

// Prints each line as it is added: the mark padded to eight columns, then
// the text (UTF-16 to a console, UTF-8 elsewhere).
class CheckReport {
 public:
  void Add(Mark mark, const std::wstring& text);
  // No problem and nothing unsure so far.
  bool Clean() const { return m_clean; }

 private:
  bool m_clean = true;
};

// "the class is not registered (0x80040154 REGDB_E_CLASSNOTREG)", or the
// system's words for codes the table lacks.
std::wstring HresultInWords(HRESULT hr);

// Explorer's "always show icons" setting and the policies that turn
// thumbnails off, for the user and the machine.
void CheckSettings(CheckReport& report);

// How to make Explorer forget what it cached before the install.
void AddCacheSteps(CheckReport& report);

}  // namespace kezthumb
