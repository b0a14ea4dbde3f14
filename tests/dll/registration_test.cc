// Self-registration on the stand-in registry: every key, value and byte
// count, the ProgID association, the order of calls, and every failure.
// Byte counts are chars * sizeof(WCHAR): WCHAR is 4 bytes here and 2 on
// Windows, where they are twice the character count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dll/module.h"
#include "dll/registration.h"
#include "platform/registry.h"
#include "platform/testing.h"

namespace {

namespace pt = platform::testing;
using pt::RegistryCall;

const std::wstring kClsid = L"{09533617-4B9F-4F3C-8643-8A14BF00759D}";
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const std::wstring kServerKey = kClassKey + L"\\InprocServer32";
const std::wstring kHandlerSuffix = L"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
const std::wstring kDllPath = L"C:\\Program Files\\kezthumb\\kezthumb.dll";

void FunctionInThisBinary() {}

std::vector<BYTE> TextBytes(const std::wstring& text, std::size_t chars) {
  std::vector<BYTE> bytes(chars * sizeof(WCHAR), 0);
  if (!bytes.empty()) std::memcpy(bytes.data(), text.c_str(), std::min(chars, text.size() + 1) * sizeof(WCHAR));
  return bytes;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pt::ResetPlatform();
    pt::OverrideModuleFileName(kDllPath);
    DllMain(reinterpret_cast<HINSTANCE>(&FunctionInThisBinary), DLL_PROCESS_ATTACH, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(pt::OpenRegistryHandles(), 0);
    pt::ResetPlatform();
  }

  // ".kez"'s default value: `chars` WCHARs of `text` (padded with zeros).
  static void SetAssociation(const std::wstring& text, std::size_t chars) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    const std::vector<BYTE> bytes = TextBytes(text, chars);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())), 0);
    RegCloseKey(key);
  }
  static void CreateKey(const std::wstring& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    RegCloseKey(key);
  }
  static std::uint32_t U(HRESULT hr) { return static_cast<std::uint32_t>(hr); }
};

// Machine-wide registration, and per-user installation with the same
// entries under the current user's classes.
struct ScopeCase {
  const char* name;
  HRESULT (*install)();
  HRESULT (*uninstall)();
  const wchar_t* prefix;
};

class RegistrationScope : public RegistrationTest, public ::testing::WithParamInterface<ScopeCase> {};

TEST_P(RegistrationScope, WritesEveryKeyAndValueExactlyAndRemovesThem) {
  ASSERT_EQ(GetParam().install(), S_OK);
  const std::wstring p = GetParam().prefix;
  const std::wstring handler = p + L".kez" + kHandlerSuffix;
  std::vector<std::wstring> keys{p + L".kez", p + L".kez\\shellex", handler, p + L"CLSID", p + kClassKey,
                                 p + kServerKey};
  if (!p.empty()) keys.insert(keys.begin(), {L"HKEY_CURRENT_USER", L"HKEY_CURRENT_USER\\Software",
                                             L"HKEY_CURRENT_USER\\Software\\Classes"});
  EXPECT_EQ(pt::RegistryKeys(), keys);
  struct Expected {
    std::wstring key, name, text;
  };
  const std::vector<Expected> expected = {
      {handler, L"", kClsid},
      {p + kClassKey, L"", L"KezThumbDll.KezThumbnailProvider Class"},
      {p + kServerKey, L"", kDllPath},
      {p + kServerKey, L"ThreadingModel", L"Apartment"},
  };
  const auto values = pt::RegistryValues();
  ASSERT_EQ(values.size(), expected.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].key, expected[i].key) << i;
    EXPECT_EQ(values[i].name, expected[i].name) << i;
    EXPECT_EQ(values[i].type, REG_SZ) << i;
    // No terminator stored.
    EXPECT_EQ(values[i].data, TextBytes(expected[i].text, expected[i].text.size())) << i;
  }
  const auto notifications = pt::ChangeNotifications();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0].eventId, 0x08000000);
  EXPECT_EQ(notifications[0].flags, 0u);
  EXPECT_EQ(notifications[0].item1, nullptr);
  EXPECT_EQ(notifications[0].item2, nullptr);

  EXPECT_EQ(GetParam().uninstall(), S_OK);
  EXPECT_TRUE(pt::RegistryValues().empty());
  EXPECT_EQ(U(GetParam().uninstall()), 0x80070002u);
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, RegistrationScope,
    ::testing::Values(ScopeCase{"machine", DllRegisterServer, DllUnregisterServer, L""},
                      ScopeCase{"user", [] { return DllInstall(TRUE, L"User"); },
                                [] { return DllInstall(FALSE, L"user"); }, L"HKEY_CURRENT_USER\\Software\\Classes\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, InstallKnowsOnlyTheUserCommand) {
  for (const wchar_t* line : {static_cast<const wchar_t*>(nullptr), L"", L"users", L"use", L"machine"})
    for (BOOL install : {TRUE, FALSE}) EXPECT_EQ(DllInstall(install, line), E_INVALIDARG);
  EXPECT_TRUE(pt::RegistryCallLog().empty());
}

TEST_F(RegistrationTest, CallsComeInTheOrderOfTheEntries) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  struct Call {
    RegistryCall call;
    std::wstring key;
    std::wstring value;
    LONG result;
  };
  const std::wstring handler = L".kez" + kHandlerSuffix;
  const std::vector<Call> expected = {
      {RegistryCall::CreateKey, kClassKey, L"", 0},
      {RegistryCall::SetValue, kClassKey, L"", 0},
      {RegistryCall::CloseKey, kClassKey, L"", 0},
      {RegistryCall::CreateKey, kServerKey, L"", 0},
      {RegistryCall::SetValue, kServerKey, L"", 0},
      {RegistryCall::CloseKey, kServerKey, L"", 0},
      {RegistryCall::CreateKey, kServerKey, L"", 0},
      {RegistryCall::SetValue, kServerKey, L"ThreadingModel", 0},
      {RegistryCall::CloseKey, kServerKey, L"", 0},
      {RegistryCall::OpenKey, L".kez", L"", static_cast<LONG>(ERROR_FILE_NOT_FOUND)},
      {RegistryCall::CreateKey, handler, L"", 0},
      {RegistryCall::SetValue, handler, L"", 0},
      {RegistryCall::CloseKey, handler, L"", 0},
  };
  const auto log = pt::RegistryCallLog();
  ASSERT_EQ(log.size(), expected.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].call, expected[i].call) << i;
    EXPECT_EQ(log[i].key, expected[i].key) << i;
    EXPECT_EQ(log[i].valueName, expected[i].value) << i;
    EXPECT_EQ(log[i].result, expected[i].result) << i;
  }
}

TEST_F(RegistrationTest, HandlerGoesUnderTheProgIdAndLeavesWithIt) {
  SetAssociation(L"KezPaint.Document.1", 19);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::wstring handler = L"KezPaint.Document.1" + kHandlerSuffix;
  const auto value = pt::FindRegistryValue(handler, L"");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, TextBytes(kClsid, kClsid.size()));
  EXPECT_FALSE(pt::RegistryKeyExists(L".kez\\shellex"));
  // The association was read with KEY_READ and left as it was.
  EXPECT_EQ(pt::FindRegistryValue(L".kez", L"")->data, TextBytes(L"KezPaint.Document.1", 19));

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_FALSE(pt::RegistryKeyExists(kClassKey));
  EXPECT_FALSE(pt::RegistryKeyExists(handler));
  EXPECT_TRUE(pt::RegistryKeyExists(L"KezPaint.Document.1\\shellex"));
  EXPECT_TRUE(pt::RegistryKeyExists(L"CLSID"));
  EXPECT_TRUE(pt::FindRegistryValue(L".kez", L"").has_value());
  EXPECT_EQ(pt::ChangeNotifications().size(), 1u);  // registration only
}

// What ".kez"'s default value makes the association, by its stored form.
struct AssociationCase {
  const char* name;
  std::wstring text;
  std::size_t storedChars;  // WCHARs stored (the text padded with zeros)
  HRESULT result;
  std::wstring handlerParent;  // empty: no handler key written
};

class AssociationTest : public RegistrationTest, public ::testing::WithParamInterface<AssociationCase> {};

TEST_P(AssociationTest, RegistersUnderTheAssociationItCanRead) {
  const AssociationCase& c = GetParam();
  SetAssociation(c.text, c.storedChars);
  EXPECT_EQ(U(DllRegisterServer()), U(c.result));
  // The class keys come first, whatever happens to the handler key.
  EXPECT_EQ(pt::FindRegistryValue(kServerKey, L"ThreadingModel")->data, TextBytes(L"Apartment", 9));
  if (c.handlerParent.empty()) {
    for (const auto& key : pt::RegistryKeys()) EXPECT_EQ(key.find(L"shellex"), std::wstring::npos) << key.size();
    EXPECT_TRUE(pt::ChangeNotifications().empty());
  } else {
    EXPECT_TRUE(pt::RegistryKeyExists(c.handlerParent + kHandlerSuffix));
    EXPECT_EQ(pt::ChangeNotifications().size(), 1u);
  }
}

const std::wstring kLongest(259 - kHandlerSuffix.size(), L'p');  // the handler path is 259 characters

INSTANTIATE_TEST_SUITE_P(
    Values, AssociationTest,
    ::testing::Values(
        AssociationCase{"Plain", L"Kez.1", 5, S_OK, L"Kez.1"},
        AssociationCase{"WithTerminator", L"Kez.1", 6, S_OK, L"Kez.1"},
        AssociationCase{"PaddedWithZeros", L"Kez.1", 40, S_OK, L"Kez.1"},
        AssociationCase{"Empty", L"", 0, S_OK, L".kez"},
        AssociationCase{"OnlyATerminator", L"", 1, S_OK, L".kez"},
        AssociationCase{"HandlerPathFitsExactly", kLongest, kLongest.size(), S_OK, kLongest},
        // One character more and the handler path no longer fits its buffer.
        AssociationCase{"HandlerPathOneTooLong", kLongest + L"p", kLongest.size() + 1, STRSAFE_E_INSUFFICIENT_BUFFER, L""},
        AssociationCase{"FillsTheBufferWithTerminator", std::wstring(259, L'q'), 260, STRSAFE_E_INSUFFICIENT_BUFFER,
                        L""},
        // Filling all 260 WCHARs without a terminator is as unreadable as
        // being longer than the buffer: ".kez" itself is used.
        AssociationCase{"FillsTheBufferUnterminated", std::wstring(260, L'q'), 260, S_OK, L".kez"},
        AssociationCase{"LongerThanTheBuffer", std::wstring(300, L'q'), 300, S_OK, L".kez"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, AssociationOfAnotherTypeIsReadAsText) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L".kez", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  const std::vector<BYTE> bytes = TextBytes(L"Kez.2", 5);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())), 0);
  RegCloseKey(key);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_TRUE(pt::RegistryKeyExists(L"Kez.2" + kHandlerSuffix));
}

TEST_F(RegistrationTest, ReadAssociationTerminatesWhatItReads) {
  WCHAR buffer[kKeyPathCapacity];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(U(ReadAssociation(buffer)), 0x80070002u);  // no ".kez" key
  EXPECT_EQ(buffer[0], L'\0');

  CreateKey(L".kez");
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(U(ReadAssociation(buffer)), 0x80070002u);  // no default value

  SetAssociation(L"Kez.3", 5);
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(ReadAssociation(buffer), S_OK);
  EXPECT_EQ(std::wstring(buffer), L"Kez.3");

  SetAssociation(std::wstring(260, L'q'), 260);
  EXPECT_EQ(U(ReadAssociation(buffer)), 0x800700EAu);  // ERROR_MORE_DATA
  EXPECT_EQ(buffer[0], L'\0');
}

TEST_F(RegistrationTest, UnregisteringTwiceFailsAtTheClassKeyAndLeavesTheHandlerAlone) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(pt::RegistryKeys(), (std::vector<std::wstring>{L".kez", L".kez\\shellex", L"CLSID"}));

  // Someone put a handler back; the second unregistration must not take it.
  CreateKey(L".kez" + kHandlerSuffix);
  const std::size_t before = pt::RegistryCallLog().size();
  EXPECT_EQ(U(DllUnregisterServer()), 0x80070002u);
  EXPECT_TRUE(pt::RegistryKeyExists(L".kez" + kHandlerSuffix));
  const auto log = pt::RegistryCallLog();
  ASSERT_EQ(log.size(), before + 1);
  EXPECT_EQ(log.back().call, RegistryCall::DeleteTree);
  EXPECT_EQ(log.back().key, kClassKey);
}

// What unregistration finds under the handler keys after registering under
// ".kez": a handler key is removed only while it names this class.
struct ForeignHandlerCase {
  const char* name;
  std::wstring kezHandler;    // the value left under ".kez"'s handler key; empty: the key is gone
  std::wstring progId;        // ".kez" bound since to this ProgID, with another program's handler
  bool kezHandlerLeft;
};

class ForeignHandlerTest : public RegistrationTest, public ::testing::WithParamInterface<ForeignHandlerCase> {};

TEST_P(ForeignHandlerTest, UnregistrationRemovesOnlyItsOwnHandler) {
  const ForeignHandlerCase& c = GetParam();
  const std::wstring other = L"{0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E}";
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::wstring kezHandler = L".kez" + kHandlerSuffix;
  if (c.kezHandler.empty()) {
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kezHandler.c_str()), 0);
  } else {
    ASSERT_EQ(WriteStringValue(kezHandler.c_str(), nullptr, c.kezHandler.c_str()), S_OK);
  }
  if (!c.progId.empty()) {
    SetAssociation(c.progId, c.progId.size());
    ASSERT_EQ(WriteStringValue((c.progId + kHandlerSuffix).c_str(), nullptr, other.c_str()), S_OK);
  }
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_FALSE(pt::RegistryKeyExists(kClassKey));
  EXPECT_EQ(pt::RegistryKeyExists(kezHandler), c.kezHandlerLeft);
  if (c.kezHandlerLeft) {
    EXPECT_EQ(pt::FindRegistryValue(kezHandler, L"")->data, TextBytes(c.kezHandler, c.kezHandler.size()));
  }
  if (!c.progId.empty()) {
    EXPECT_EQ(pt::FindRegistryValue(c.progId + kHandlerSuffix, L"")->data, TextBytes(other, other.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForeignHandlerTest,
    ::testing::Values(ForeignHandlerCase{"Gone", L"", L"", false},
                      ForeignHandlerCase{"OursInLowerCase", L"{09533617-4b9f-4f3c-8643-8a14bf00759d}", L"", false},
                      ForeignHandlerCase{"AnotherClass", L"{0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E}", L"", true},
                      ForeignHandlerCase{"OursWithMore", kClsid + L"x", L"", true},
                      ForeignHandlerCase{"OursUnderKezAfterABinding", kClsid, L"OtherPaint.Document", false},
                      ForeignHandlerCase{"AnotherUnderKezAndTheProgId", L"{0E7C5F84-1C5A-4A2B-9F1E-2D6B7A8C9D0E}",
                                         L"OtherPaint.Document", true}),
    [](const auto& info) { return std::string(info.param.name); });

// Any registry call that fails during registration: its HRESULT (for key
// creation and value writes), nothing after it but closing its own key, no
// change notification. Failing reads of the association are not failures.
class RegistrationFaultTest : public RegistrationTest, public ::testing::WithParamInterface<int> {};

TEST_P(RegistrationFaultTest, FirstFailureStopsRegistration) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const auto reference = pt::RegistryCallLog();
  ASSERT_EQ(reference.size(), 13u);
  const std::size_t index = static_cast<std::size_t>(GetParam());
  const auto& target = reference[index];
  int nth = 0;
  for (std::size_t i = 0; i <= index; ++i)
    if (reference[i].call == target.call && reference[i].key == target.key) ++nth;

  pt::ResetPlatform();
  pt::OverrideModuleFileName(kDllPath);
  constexpr LONG kError = ERROR_ACCESS_DENIED;
  pt::FailRegistryCall(target.call, kError, target.key, nth);
  const HRESULT hr = DllRegisterServer();
  const auto log = pt::RegistryCallLog();

  switch (target.call) {
    case RegistryCall::CreateKey:
    case RegistryCall::SetValue: {
      EXPECT_EQ(U(hr), 0x80070005u);
      EXPECT_TRUE(pt::ChangeNotifications().empty());
      // The log is the reference up to the failing call (then only the close
      // of the key whose value could not be set).
      const std::size_t end = target.call == RegistryCall::SetValue ? index + 2 : index + 1;
      ASSERT_EQ(log.size(), end);
      for (std::size_t i = 0; i < end; ++i) {
        EXPECT_EQ(log[i].call, reference[i].call) << i;
        EXPECT_EQ(log[i].key, reference[i].key) << i;
      }
      EXPECT_EQ(log[index].result, kError);
      break;
    }
    case RegistryCall::OpenKey:
    case RegistryCall::CloseKey:
    case RegistryCall::QueryValue:
    case RegistryCall::DeleteTree:
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(log.size(), reference.size());
      EXPECT_EQ(pt::ChangeNotifications().size(), 1u);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(EachCall, RegistrationFaultTest, ::testing::Range(0, 13));

TEST_F(RegistrationTest, FailingAssociationQueryFallsBackToTheExtension) {
  SetAssociation(L"Kez.4", 5);
  pt::FailRegistryCall(RegistryCall::QueryValue, ERROR_ACCESS_DENIED);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_TRUE(pt::RegistryKeyExists(L".kez" + kHandlerSuffix));
  EXPECT_FALSE(pt::RegistryKeyExists(L"Kez.4"));
}

struct UnregisterFaultCase {
  const char* name;
  RegistryCall call;
  bool onClassKey;
  std::uint32_t result;
  bool classKeyLeft;
  bool handlerLeft;
};

class UnregistrationFaultTest : public RegistrationTest, public ::testing::WithParamInterface<UnregisterFaultCase> {};

TEST_P(UnregistrationFaultTest, FailureIsReportedAndLeavesTheRest) {
  const UnregisterFaultCase& c = GetParam();
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::wstring handler = L".kez" + kHandlerSuffix;
  pt::FailRegistryCall(c.call, ERROR_ACCESS_DENIED, c.onClassKey ? kClassKey : std::wstring());
  EXPECT_EQ(U(DllUnregisterServer()), c.result);
  EXPECT_EQ(pt::RegistryKeyExists(kClassKey), c.classKeyLeft);
  EXPECT_EQ(pt::RegistryKeyExists(handler), c.handlerLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnregistrationFaultTest,
    ::testing::Values(UnregisterFaultCase{"ClassKeyDelete", RegistryCall::DeleteTree, true, 0x80070005u, true, true},
                      UnregisterFaultCase{"EveryDelete", RegistryCall::DeleteTree, false, 0x80070005u, true, true},
                      UnregisterFaultCase{"EveryOpen", RegistryCall::OpenKey, false, 0x80070005u, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, UnavailableModulePathIsTheLastError) {
  pt::FailModuleFileName(ERROR_ACCESS_DENIED);
  EXPECT_EQ(U(DllRegisterServer()), 0x80070005u);
  EXPECT_EQ(U(DllUnregisterServer()), 0x80070005u);
  // A failure without a last error still fails.
  pt::FailModuleFileName(0);
  EXPECT_EQ(DllRegisterServer(), E_FAIL);
  EXPECT_EQ(DllUnregisterServer(), E_FAIL);
  EXPECT_TRUE(pt::RegistryCallLog().empty());
  EXPECT_TRUE(pt::ChangeNotifications().empty());
}

TEST_F(RegistrationTest, NoModuleHandleIsAnInvalidHandle) {
  pt::OverrideModuleFileName(std::nullopt);
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  EXPECT_EQ(U(DllRegisterServer()), 0x80070006u);
  EXPECT_TRUE(pt::RegistryCallLog().empty());
}

TEST_F(RegistrationTest, ModulePathCutShortIsNotRegistered) {
  pt::OverrideModuleFileName(L"C:\\" + std::wstring(300, L'd') + L"\\kezthumb.dll");
  EXPECT_EQ(U(DllRegisterServer()), 0x8007007Au);
  EXPECT_TRUE(pt::RegistryCallLog().empty());
  // Unregistration does not need the path.
  CreateKey(kClassKey);
  CreateKey(L".kez" + kHandlerSuffix);
  EXPECT_EQ(DllUnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, RealModulePathIsRegisteredAsIs) {
  pt::OverrideModuleFileName(std::nullopt);
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(g_moduleHandle, path, MAX_PATH), 0u);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(pt::RegistryText(pt::FindRegistryValue(kServerKey, L"")->data), std::wstring(path));
}

TEST_F(RegistrationTest, WriteStringValueCreatesSetsAndCloses) {
  EXPECT_EQ(WriteStringValue(L"A\\B", nullptr, nullptr), S_OK);
  EXPECT_TRUE(pt::RegistryKeyExists(L"A\\B"));
  EXPECT_TRUE(pt::RegistryValues().empty());

  EXPECT_EQ(WriteStringValue(L"A\\B", L"Name", L""), S_OK);
  EXPECT_EQ(pt::FindRegistryValue(L"A\\B", L"Name")->data.size(), 0u);

  pt::FailRegistryCall(RegistryCall::SetValue, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(U(WriteStringValue(L"A", nullptr, L"x")), 0x80070008u);
  pt::ClearRegistryFaults();
  pt::FailRegistryCall(RegistryCall::CreateKey, ERROR_ACCESS_DENIED);
  const std::size_t before = pt::RegistryCallLog().size();
  EXPECT_EQ(U(WriteStringValue(L"C", nullptr, L"x")), 0x80070005u);
  EXPECT_EQ(pt::RegistryCallLog().size(), before + 1);  // no set, no close
}

// Bounded formatting with the StringCchPrintfW contract.
struct FormatCase {
  const char* name;
  std::size_t capacity;
  const wchar_t* format;
  const wchar_t* argument;
  std::uint32_t result;
  std::wstring text;   // what the buffer holds
  bool untouched;      // the buffer was not written at all
};

class FormatKeyPathTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatKeyPathTest, FollowsTheBoundedFormattingContract) {
  const FormatCase& c = GetParam();
  WCHAR buffer[64];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  const HRESULT hr = FormatKeyPath(buffer, c.capacity, c.format, c.argument);
  EXPECT_EQ(static_cast<std::uint32_t>(hr), c.result);
  if (c.untouched) {
    EXPECT_EQ(buffer[0], L'#');
    return;
  }
  EXPECT_EQ(std::wstring(buffer), c.text);
  // Nothing beyond the terminator was written (a format found invalid on
  // the way may leave text behind the emptied start).
  const bool badFormat = c.result == 0x80070057u && c.capacity <= 0x7FFFFFFFu;
  if (!badFormat) {
    EXPECT_EQ(buffer[c.text.size() + 1], L'#');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Contract, FormatKeyPathTest,
    ::testing::Values(
        FormatCase{"CapacityZero", 0, L"CLSID\\%s", L"{AB}", 0x80070057u, L"", true},
        FormatCase{"CapacityAboveTheLimit", 0x80000000u, L"CLSID\\%s", L"{AB}", 0x80070057u, L"", false},
        FormatCase{"CapacityAtTheLimit", 0x7FFFFFFFu, L"CLSID\\%s", L"{AB}", 0u, L"CLSID\\{AB}", false},
        FormatCase{"ExactFit", 11, L"CLSID\\%s", L"{AB}", 0u, L"CLSID\\{AB}", false},
        FormatCase{"OneShort", 10, L"CLSID\\%s", L"{AB}", 0x8007007Au, L"CLSID\\{AB", false},
        FormatCase{"ShortInTheFormat", 4, L"CLSID\\%s", L"{AB}", 0x8007007Au, L"CLS", false},
        FormatCase{"RoomForTheTerminatorOnly", 1, L"CLSID\\%s", L"{AB}", 0x8007007Au, L"", false},
        FormatCase{"ArgumentFirst", 64, L"%s\\shellex", L".kez", 0u, L".kez\\shellex", false},
        FormatCase{"PercentSign", 64, L"100%%\\%s", L"x", 0u, L"100%\\x", false},
        FormatCase{"OtherConversion", 64, L"%d\\%s", L"x", 0x80070057u, L"", false},
        FormatCase{"LonePercent", 64, L"key%", L"x", 0x80070057u, L"", false},
        FormatCase{"NullArgument", 64, L"CLSID\\%s", nullptr, 0x80070057u, L"", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatKeyPathTest, TwoArgumentsAndTheFullKeyPathBuffer) {
  WCHAR buffer[kKeyPathCapacity];
  EXPECT_EQ(FormatKeyPath(buffer, kKeyPathCapacity, L"%s\\%s", L"a", L"b"), S_OK);
  EXPECT_EQ(std::wstring(buffer), L"a\\b");
  const std::wstring long259(259, L'x');
  EXPECT_EQ(FormatKeyPath(buffer, kKeyPathCapacity, L"%s", long259.c_str()), S_OK);
  EXPECT_EQ(std::wstring(buffer), long259);
  const std::wstring long260(260, L'x');
  EXPECT_EQ(FormatKeyPath(buffer, kKeyPathCapacity, L"%s", long260.c_str()), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::wstring(buffer), long259);
}

}  // namespace
