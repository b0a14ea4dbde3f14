// DIB sections, notices, change notifications and the module-name hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/shell.h"
#include "platform/testing.h"

namespace {

namespace pt = platform::testing;

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override { pt::ResetPlatform(); }
  void TearDown() override { pt::ResetPlatform(); }
};

BITMAPINFO Info(LONG width, LONG height, WORD bitCount = 32, DWORD compression = BI_RGB, WORD planes = 1) {
  BITMAPINFO info;
  std::memset(&info, 0, sizeof(info));
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = planes;
  info.bmiHeader.biBitCount = bitCount;
  info.bmiHeader.biCompression = compression;
  return info;
}

TEST_F(GdiTest, SectionIsZeroedAndReadableUntilDeleted) {
  const BITMAPINFO info = Info(3, 2);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(pt::LiveDibs(), 1);
  const auto dib = pt::ReadDib(bitmap);
  ASSERT_TRUE(dib.has_value());
  EXPECT_EQ(dib->bits, bits);
  EXPECT_EQ(dib->size, 24u);
  EXPECT_EQ(dib->header.biWidth, 3);
  EXPECT_EQ(dib->header.biHeight, 2);
  EXPECT_EQ(std::vector<BYTE>(dib->bits, dib->bits + dib->size), std::vector<BYTE>(24, 0));

  EXPECT_EQ(DeleteObject(bitmap), TRUE);
  EXPECT_EQ(pt::LiveDibs(), 0);
  EXPECT_FALSE(pt::ReadDib(bitmap).has_value());
  EXPECT_EQ(DeleteObject(bitmap), FALSE);
  EXPECT_EQ(DeleteObject(nullptr), FALSE);
}

struct RejectedHeader {
  const char* name;
  BITMAPINFO info;
};

class GdiRejectTest : public GdiTest, public ::testing::WithParamInterface<RejectedHeader> {};

TEST_P(GdiRejectTest, OnlyThirtyTwoBitRgbSectionsWithASizeAreMade) {
  void* bits = reinterpret_cast<void*>(0x10);
  EXPECT_EQ(CreateDIBSection(nullptr, &GetParam().info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(pt::LiveDibs(), 0);
  EXPECT_EQ(pt::CreateDIBSectionCalls(), 1);
}

INSTANTIATE_TEST_SUITE_P(Headers, GdiRejectTest,
                         ::testing::Values(RejectedHeader{"ZeroWidth", Info(0, 4)},
                                           RejectedHeader{"NegativeWidth", Info(-4, 4)},
                                           RejectedHeader{"ZeroHeight", Info(4, 0)},
                                           RejectedHeader{"TwentyFourBits", Info(4, 4, 24)},
                                           RejectedHeader{"Bitfields", Info(4, 4, 32, 3)},
                                           RejectedHeader{"TwoPlanes", Info(4, 4, 32, BI_RGB, 2)},
                                           RejectedHeader{"TooBig", Info(0x10000, 0x10000)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiTest, TopDownSectionsAreMadeToo) {
  const BITMAPINFO info = Info(2, -3);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(pt::ReadDib(bitmap)->size, 24u);
  DeleteObject(bitmap);
}

TEST_F(GdiTest, FaultsGiveNullHandleOrNullBits) {
  const BITMAPINFO info = Info(4, 4);
  void* bits = reinterpret_cast<void*>(0x10);
  pt::FailCreateDIBSection(pt::DibFault::NullHandle);
  EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(pt::LiveDibs(), 0);

  pt::FailCreateDIBSection(pt::DibFault::NullBits);
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(pt::ReadDib(bitmap)->bits, nullptr);
  EXPECT_EQ(pt::LiveDibs(), 1);
  EXPECT_EQ(DeleteObject(bitmap), TRUE);

  EXPECT_EQ(pt::CreateDIBSectionCalls(), 2);
  ASSERT_TRUE(pt::LastDibRequest().has_value());
  EXPECT_EQ(pt::LastDibRequest()->biWidth, 4);
  pt::ResetDibCounters();
  EXPECT_EQ(pt::CreateDIBSectionCalls(), 0);
  EXPECT_FALSE(pt::LastDibRequest().has_value());
}

TEST_F(GdiTest, NoticesAreCapturedAndEchoedAsCaptionColonText) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, L"throw error!", L"xxx", MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "xxx: throw error!\n");

  pt::EchoNotices(false);
  ::testing::internal::CaptureStderr();
  MessageBoxW(nullptr, L"caf\u00e9", L"k", MB_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ASSERT_EQ(pt::NoticeCount(), 2);
  const auto notices = pt::Notices();
  EXPECT_EQ(notices[0].text, L"throw error!");
  EXPECT_EQ(notices[0].caption, L"xxx");
  EXPECT_EQ(notices[0].type, MB_ICONINFORMATION);
  EXPECT_EQ(notices[1].text, L"caf\u00e9");
  pt::ResetNotices();
  EXPECT_EQ(pt::NoticeCount(), 0);
}

TEST_F(GdiTest, ChangeNotificationsAreRecorded) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  const auto record = pt::ChangeNotifications();
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record[0].eventId, 0x08000000);
  EXPECT_EQ(record[0].flags, 0u);
  EXPECT_EQ(record[0].item1, nullptr);
  pt::ResetChangeNotifications();
  EXPECT_TRUE(pt::ChangeNotifications().empty());
}

void AnyFunctionInThisBinary() {}

TEST_F(GdiTest, ModuleFileNameTruncatesAsWindowsDoes) {
  const auto module = reinterpret_cast<HMODULE>(&AnyFunctionInThisBinary);
  pt::OverrideModuleFileName(std::wstring(L"C:\\kez\\kezthumb.dll"));
  WCHAR path[32];
  EXPECT_EQ(GetModuleFileNameW(module, path, 32), 19u);
  EXPECT_EQ(std::wstring(path), L"C:\\kez\\kezthumb.dll");
  EXPECT_EQ(GetLastError(), 0u);

  // Cut to size - 1 characters, terminated, reported as size.
  EXPECT_EQ(GetModuleFileNameW(module, path, 8), 8u);
  EXPECT_EQ(std::wstring(path), L"C:\\kez\\");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  pt::FailModuleFileName(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetModuleFileNameW(module, path, 32), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  pt::ResetPlatform();
  EXPECT_GT(GetModuleFileNameW(module, path, 32), 0u);
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, 32), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
