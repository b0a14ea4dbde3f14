// The settings that make Explorer show icons where a handler would give
// thumbnails, and what to do about thumbnails it cached before the install.
#include <cwchar>
#include <string>

#include "check_report.h"
#include "platform/registry.h"

namespace kezthumb {
namespace {

constexpr wchar_t kAdvanced[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr wchar_t kPolicies[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kIconsOnly[] = L"Explorer's \"Always show icons, never thumbnails\"";
constexpr wchar_t kNoThumbnails[] = L"the policy \"Turn off the display of thumbnails and only display icons\"";
constexpr wchar_t kNoNetworkThumbnails[] =
    L"the policy \"Turn off the display of thumbnails and only display icons on network folders\"";

struct Setting {
  HKEY root;
  const wchar_t* rootName;
  const wchar_t* key;
  const wchar_t* value;
  const wchar_t* what;  // as Explorer's options or the policy editor name it; null where
                        // Windows documents no such setting, and its effect cannot be told
  bool networkOnly;
};
// Windows documents each of these for the user; the machine's namesakes
// are reported too, as unknowns.
const Setting kSettings[] = {
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", kAdvanced, L"IconsOnly", kIconsOnly, false},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", kAdvanced, L"IconsOnly", nullptr, false},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", kPolicies, L"DisableThumbnails", kNoThumbnails, false},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", kPolicies, L"DisableThumbnails", nullptr, false},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER", kPolicies, L"DisableThumbnailsOnNetworkFolders", kNoNetworkThumbnails,
     true},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", kPolicies, L"DisableThumbnailsOnNetworkFolders", nullptr, true},
};

}  // namespace

void CheckSettings(CheckReport& report) {
  bool any = false;
  for (const Setting& s : kSettings) {
    DWORD data = 0;
    DWORD bytes = sizeof data;
    const LONG error = RegGetValueW(s.root, s.key, s.value, RRF_RT_REG_DWORD, nullptr, &data, &bytes);
    if (error == ERROR_FILE_NOT_FOUND || (error == ERROR_SUCCESS && data == 0)) continue;
    any = true;
    const std::wstring where = std::wstring(s.rootName) + L"\\" + s.key + L", " + s.value;
    wchar_t number[16];
    std::swprintf(number, 16, L"%lu", static_cast<unsigned long>(data));
    if (error != ERROR_SUCCESS) {
      report.Add(Mark::kUnsure, L"settings: " + where + L" is set, but not as a number: its effect cannot be told");
    } else if (s.what == nullptr) {
      report.Add(Mark::kUnsure, L"settings: " + where + L" = " + number +
                                    L": documented for the user alone; whether Explorer heeds the machine's cannot "
                                    L"be told");
    } else if (s.networkOnly) {
      report.Add(Mark::kNote, L"settings: " + std::wstring(s.what) + L" is on (" + where + L" = " + number +
                                  L"): documents in network folders get icons only");
    } else {
      report.Add(Mark::kProblem, L"settings: " + std::wstring(s.what) + L" is on (" + where + L" = " + number + L")");
    }
  }
  if (!any)
    report.Add(Mark::kOk, L"settings: thumbnails are on (no IconsOnly, DisableThumbnails or "
                          L"DisableThumbnailsOnNetworkFolders, for the user or the machine)");
}

void AddCacheSteps(CheckReport& report) {
  report.Add(Mark::kNote, L"cache: if Explorer still shows icons, it shows what it cached before; to make it "
                          L"forget, run in a Command Prompt:");
  for (const wchar_t* step : {L"taskkill /f /im explorer.exe",
                              L"del /f /a /q \"%LOCALAPPDATA%\\Microsoft\\Windows\\Explorer\\thumbcache_*.db\"",
                              L"start explorer.exe"})
    report.Add(Mark::kNote, std::wstring(L"  ") + step);
}

}  // namespace kezthumb
