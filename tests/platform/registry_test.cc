// The in-process registry: what registration relies on, with the results the
// Windows functions give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing.h"

namespace {

namespace pt = platform::testing;
using pt::RegistryCall;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { pt::ResetPlatform(); }
  void TearDown() override { pt::ResetPlatform(); }

  static HKEY Create(const wchar_t* path, REGSAM access = KEY_WRITE) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, access, nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_SUCCESS));
    return key;
  }
  static void SetText(HKEY key, const wchar_t* name, const std::wstring& text, DWORD bytes) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes), 0);
  }
};

std::vector<BYTE> Bytes(const std::wstring& text, std::size_t chars) {
  std::vector<BYTE> out(chars * sizeof(WCHAR));
  std::memcpy(out.data(), text.c_str(), out.size());
  return out;
}

TEST_F(RegistryTest, CreateMakesEveryKeyOnThePathAndReportsDisposition) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{A}\\InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, &disposition),
            0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(pt::RegistryKeys(), (std::vector<std::wstring>{L"CLSID", L"CLSID\\{A}", L"CLSID\\{A}\\InprocServer32"}));
  EXPECT_EQ(pt::OpenRegistryHandles(), 1);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(pt::OpenRegistryHandles(), 0);

  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"clsid\\{a}", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            &disposition),
            0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  // The first spelling stays.
  EXPECT_TRUE(pt::RegistryKeyExists(L"CLSID\\{A}"));
  EXPECT_EQ(pt::RegistryKeys().size(), 3u);
}

TEST_F(RegistryTest, StringValuesKeepExactlyTheBytesGiven) {
  HKEY key = Create(L".kez");
  // sizeof(WCHAR) is 4 here and 2 on Windows: byte counts are chars * sizeof(WCHAR).
  SetText(key, nullptr, L"Kez.Document", 12 * sizeof(WCHAR));
  SetText(key, L"Other", L"abc", 4 * sizeof(WCHAR));  // with its terminator
  RegCloseKey(key);

  const auto defaultValue = pt::FindRegistryValue(L".KEZ", L"");
  ASSERT_TRUE(defaultValue.has_value());
  EXPECT_EQ(defaultValue->key, L".kez");
  EXPECT_EQ(defaultValue->type, REG_SZ);
  EXPECT_EQ(defaultValue->data, Bytes(L"Kez.Document", 12));
  EXPECT_EQ(pt::RegistryText(defaultValue->data), L"Kez.Document");
  const auto other = pt::FindRegistryValue(L".kez", L"other");
  ASSERT_TRUE(other.has_value());
  EXPECT_EQ(other->name, L"Other");
  EXPECT_EQ(other->data.size(), 4 * sizeof(WCHAR));
  EXPECT_EQ(pt::RegistryText(other->data), L"abc");
}

TEST_F(RegistryTest, QueryReportsSizesMoreDataAndMissingValues) {
  HKEY key = Create(L".kez");
  SetText(key, L"", L"ProgId", 6 * sizeof(WCHAR));
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, KEY_READ, &key), 0);
  DWORD type = 0;
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(bytes, 6 * sizeof(WCHAR));

  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  bytes = 5 * sizeof(WCHAR);
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(bytes, 6 * sizeof(WCHAR));
  EXPECT_EQ(buffer[0], L'#');

  bytes = sizeof(buffer);
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes), 0);
  EXPECT_EQ(bytes, 6 * sizeof(WCHAR));
  EXPECT_EQ(std::wstring(buffer, 6), L"ProgId");
  EXPECT_EQ(buffer[6], L'#');  // no terminator added

  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, nullptr, nullptr, &bytes),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
}

TEST_F(RegistryTest, MissingKeysAndBadHandles) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, KEY_READ, &key), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID\\{A}"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1230)), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegSetValueExW(reinterpret_cast<HKEY>(0x1230), nullptr, 0, REG_SZ, nullptr, 0),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
  // A leading or doubled backslash names no key.
  EXPECT_NE(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"\\a", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  EXPECT_NE(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"a\\\\b", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  EXPECT_TRUE(pt::RegistryKeys().empty());
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreEnforced) {
  HKEY key = Create(L".kez");
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, KEY_READ, &key), 0);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof(WCHAR)),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
  RegCloseKey(key);
  key = Create(L".kez", KEY_WRITE);
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &bytes),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeleteTreeRemovesTheSubtreeOnly) {
  RegCloseKey(Create(L"CLSID\\{A}\\InprocServer32"));
  RegCloseKey(Create(L"CLSID\\{B}"));
  RegCloseKey(Create(L".kez\\shellex\\{h}"));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"clsid\\{a}"), 0);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L".kez\\shellex\\{h}"), 0);
  EXPECT_EQ(pt::RegistryKeys(), (std::vector<std::wstring>{L".kez", L".kez\\shellex", L"CLSID", L"CLSID\\{B}"}));

  // A handle to a deleted key reports it.
  HKEY key = Create(L"CLSID\\{B}");
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID"), 0);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof(WCHAR)),
            static_cast<LONG>(ERROR_KEY_DELETED));
  RegCloseKey(key);
}

TEST_F(RegistryTest, ResetInvalidatesHandles) {
  HKEY key = Create(L"a");
  pt::ResetRegistry();
  EXPECT_EQ(pt::OpenRegistryHandles(), 0);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof(WCHAR)),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(RegistryTest, CallLogRecordsKeysValueNamesAndResults) {
  HKEY key = Create(L"CLSID\\{A}");
  SetText(key, L"ThreadingModel", L"Apartment", 9 * sizeof(WCHAR));
  RegCloseKey(key);
  RegOpenKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, KEY_READ, &key);
  const auto log = pt::RegistryCallLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].call, RegistryCall::CreateKey);
  EXPECT_EQ(log[0].key, L"CLSID\\{A}");
  EXPECT_EQ(log[1].call, RegistryCall::SetValue);
  EXPECT_EQ(log[1].valueName, L"ThreadingModel");
  EXPECT_EQ(log[2].call, RegistryCall::CloseKey);
  EXPECT_EQ(log[2].key, L"CLSID\\{A}");
  EXPECT_EQ(log[3].call, RegistryCall::OpenKey);
  EXPECT_EQ(log[3].key, L".kez");
  EXPECT_EQ(log[3].result, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

// Faults: by function, by key, by the nth matching call.
struct FaultCase {
  const char* name;
  RegistryCall call;
  const wchar_t* key;
  int nth;
  // Which of the three creates below fail (by index), or -1.
  int failingCreate;
  int failingSet;
};

class RegistryFaultTest : public RegistryTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(RegistryFaultTest, ArmedFaultFailsExactlyTheChosenCall) {
  const FaultCase& c = GetParam();
  pt::FailRegistryCall(c.call, ERROR_ACCESS_DENIED, c.key, c.nth);
  const wchar_t* paths[] = {L"A", L"B", L"A"};
  for (int i = 0; i < 3; ++i) {
    HKEY key = reinterpret_cast<HKEY>(0x10);
    const LONG created = RegCreateKeyExW(HKEY_CLASSES_ROOT, paths[i], 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                         nullptr);
    if (i == c.failingCreate) {
      EXPECT_EQ(created, static_cast<LONG>(ERROR_ACCESS_DENIED)) << i;
      EXPECT_EQ(key, nullptr);
      continue;
    }
    ASSERT_EQ(created, 0) << i;
    const LONG set = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"v"), sizeof(WCHAR));
    EXPECT_EQ(set, i == c.failingSet ? static_cast<LONG>(ERROR_ACCESS_DENIED) : 0) << i;
    RegCloseKey(key);
  }
  EXPECT_EQ(pt::OpenRegistryHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RegistryFaultTest,
    ::testing::Values(FaultCase{"SecondCreate", RegistryCall::CreateKey, L"", 2, 1, -1},
                      FaultCase{"CreateOfB", RegistryCall::CreateKey, L"b", 0, 1, -1},
                      FaultCase{"SecondCreateOfA", RegistryCall::CreateKey, L"A", 2, 2, -1},
                      FaultCase{"FirstSet", RegistryCall::SetValue, L"", 1, -1, 0},
                      FaultCase{"SetOnB", RegistryCall::SetValue, L"B", 0, -1, 1},
                      FaultCase{"OpenDoesNotTouchCreate", RegistryCall::OpenKey, L"", 0, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, EveryCreateFaultFailsAllCreates) {
  pt::FailRegistryCall(RegistryCall::CreateKey, 5);
  HKEY key = nullptr;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"A", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 5);
  EXPECT_TRUE(pt::RegistryKeys().empty());
  pt::ClearRegistryFaults();
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"A", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  RegCloseKey(key);
}

TEST_F(RegistryTest, FailedCloseStillCloses) {
  HKEY key = Create(L"A");
  pt::FailRegistryCall(RegistryCall::CloseKey, ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(pt::OpenRegistryHandles(), 0);
}

TEST_F(RegistryTest, FailedQueryAndDeleteChangeNothing) {
  HKEY key = Create(L"A\\B");
  SetText(key, nullptr, L"v", sizeof(WCHAR));
  RegCloseKey(key);
  pt::FailRegistryCall(RegistryCall::DeleteTree, ERROR_ACCESS_DENIED, L"a\\b");
  pt::FailRegistryCall(RegistryCall::QueryValue, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"A\\B"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(pt::RegistryKeyExists(L"A\\B"));
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"A\\B", 0, KEY_READ, &key), 0);
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &bytes),
            static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY));
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"A"), 0);  // the fault names another key
}

}  // namespace
