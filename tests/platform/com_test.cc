// COM basics the server code relies on: QISearch, StringFromGUID2, HRESULTs.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"
#include "platform/shell.h"

namespace {

// Two interfaces on one object, the second at a non-zero offset.
struct Counted : IUnknown {
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};
struct Second : IUnknown {
  LONG* refs = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++*refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--*refs); }
};
struct Both : Counted, Second {
  Both() { Second::refs = &(this->Counted::refs); }
};

const QITAB kTable[] = {
    {&IID_IStream, OFFSETOFCLASS(Second, Both)},
    {&IID_IClassFactory, OFFSETOFCLASS(Counted, Both)},
    {nullptr, 0},
};

TEST(QISearchTest, AnswersFromTheTableAndIUnknownWithTheFirstEntry) {
  Both object;
  void* out = nullptr;
  EXPECT_EQ(QISearch(&object, kTable, IID_IClassFactory, &out), S_OK);
  EXPECT_EQ(out, static_cast<Counted*>(&object));
  EXPECT_EQ(QISearch(&object, kTable, IID_IStream, &out), S_OK);
  EXPECT_EQ(out, static_cast<Second*>(&object));
  EXPECT_NE(out, static_cast<void*>(&object));
  EXPECT_EQ(QISearch(&object, kTable, IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<Second*>(&object));
  EXPECT_EQ(object.Counted::refs, 4);  // one AddRef per answer

  out = &object;
  EXPECT_EQ(QISearch(&object, kTable, IID_IThumbnailProvider, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(QISearch(&object, kTable, IID_IStream, nullptr), E_POINTER);
  EXPECT_EQ(object.Counted::refs, 4);
}

TEST(StringFromGUID2Test, WritesTheRegistryFormInUpperCase) {
  const GUID guid = {0x0953a617, 0x4b9f, 0x0f3c, {0x86, 0x43, 0x8a, 0x14, 0xbf, 0x00, 0x75, 0x9d}};
  WCHAR text[64];
  EXPECT_EQ(StringFromGUID2(guid, text, 64), 39);
  EXPECT_EQ(std::wstring(text), L"{0953A617-4B9F-0F3C-8643-8A14BF00759D}");
  EXPECT_EQ(StringFromGUID2(guid, text, 39), 39);
  EXPECT_EQ(StringFromGUID2(guid, text, 38), 0);
  EXPECT_EQ(StringFromGUID2(IID_IThumbnailProvider, text, 39), 39);
  EXPECT_EQ(std::wstring(text), L"{E357FCCD-A995-4576-B01F-234630154E96}");
}

struct Win32Case {
  long error;
  std::uint32_t hresult;
};

class HresultFromWin32Test : public ::testing::TestWithParam<Win32Case> {};

TEST_P(HresultFromWin32Test, MapsLikeTheSdk) {
  EXPECT_EQ(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(GetParam().error)), GetParam().hresult);
}

INSTANTIATE_TEST_SUITE_P(Codes, HresultFromWin32Test,
                         ::testing::Values(Win32Case{0, 0u}, Win32Case{2, 0x80070002u}, Win32Case{5, 0x80070005u},
                                           Win32Case{122, 0x8007007Au}, Win32Case{1247, 0x800704DFu},
                                           Win32Case{0x12345, 0x80072345u}, Win32Case{-5, 0xFFFFFFFBu}));

}  // namespace
