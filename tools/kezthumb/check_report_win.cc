#include <cstdio>
#include <cwchar>
#include <string>

#include "check_report.h"

namespace kezthumb {
namespace {

constexpr const wchar_t* kMarks[] = {L"ok      ", L"problem ", L"unsure  ", L"note    "};

struct HresultName {
  HRESULT hr;
  const wchar_t* symbol;
  const wchar_t* words;
};
// The failures of loading an in-process server and making an object of it.
constexpr HresultName kHresults[] = {
    {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG", L"the class is not registered"},
    {CO_E_DLLNOTFOUND, L"CO_E_DLLNOTFOUND", L"the DLL was not found"},
    {CO_E_ERRORINDLL, L"CO_E_ERRORINDLL", L"the DLL's file is damaged"},
    {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE", L"the DLL does not serve this class"},
    {E_NOINTERFACE, L"E_NOINTERFACE", L"the object is no thumbnail handler"},
    {E_OUTOFMEMORY, L"E_OUTOFMEMORY", L"out of memory"},
    {E_ACCESSDENIED, L"E_ACCESSDENIED", L"access denied"},
    {E_FAIL, L"E_FAIL", L"an unspecified failure"},
    {E_UNEXPECTED, L"E_UNEXPECTED", L"an unexpected failure"},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"ERROR_FILE_NOT_FOUND", L"a file was not found"},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"ERROR_PATH_NOT_FOUND", L"a folder was not found"},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), L"ERROR_MOD_NOT_FOUND", L"the DLL, or one it needs, was not found"},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), L"ERROR_PROC_NOT_FOUND", L"the DLL lacks an entry point"},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), L"ERROR_BAD_EXE_FORMAT", L"the DLL is not for this processor"},
    {HRESULT_FROM_WIN32(ERROR_EXE_MACHINE_TYPE_MISMATCH), L"ERROR_EXE_MACHINE_TYPE_MISMATCH",
     L"the DLL is not for this processor"},
    {HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED), L"ERROR_DLL_INIT_FAILED", L"the DLL failed to start"},
};

}  // namespace

void CheckReport::Add(Mark mark, const std::wstring& text) {
  if (mark == Mark::kProblem || mark == Mark::kUnsure) m_clean = false;
  const std::wstring line = kMarks[static_cast<int>(mark)] + text + L"\n";
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    DWORD written = 0;
    WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                        nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

std::wstring HresultInWords(HRESULT hr) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(hr));
  for (const HresultName& name : kHresults)
    if (name.hr == hr) return std::wstring(name.words) + L" (" + code + L" " + name.symbol + L")";
  wchar_t text[256] = {};
  std::wstring words = L"an unknown failure";
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0,
                     text, 256, nullptr) != 0) {
    words = text;
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.' ||
                              words.back() == L' '))
      words.pop_back();
  }
  return words + L" (" + code + L")";
}

}  // namespace kezthumb
