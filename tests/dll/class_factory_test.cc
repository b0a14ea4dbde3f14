// The server frame: DllGetClassObject, the class factory and its kinds,
// DllCanUnloadNow along the whole road, DllMain.
#include <gtest/gtest.h>

#include <vector>

#include "dll/class_factory.h"
#include "dll/module.h"
#include "platform/shell.h"
#include "platform/testing.h"
#include "support/kez_writer.h"
#include "support/packed_writer.h"
#include "support/test_stream.h"
#include "thumb/module_count.h"

namespace {

namespace pt = platform::testing;
namespace kt = kez::testing;

const GUID kOtherClass = {0x09533617, 0x4b9f, 0x4f3c, {0x86, 0x43, 0x8a, 0x14, 0xbf, 0x00, 0x75, 0x9e}};
void* const kUntouched = reinterpret_cast<void*>(0x5A5A0);

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pt::ResetPlatform();
    pt::EchoNotices(false);
    ASSERT_EQ(g_moduleCount, 0);
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(g_moduleCount, 0);
    pt::ResetPlatform();
  }
};

// The pixel (x, y) the cx x cx DIB shows (its memory rows run bottom-up).
std::uint32_t Shown(HBITMAP bitmap, int x, int y) {
  const auto dib = pt::ReadDib(bitmap);
  const int cx = dib->header.biWidth;
  const BYTE* b = dib->bits + (static_cast<std::size_t>(cx - 1 - y) * cx + x) * 4;
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

TEST_F(ServerTest, WholeRoadThroughTheRegisteredClass) {
  const kt::KezPicture picture = kt::TestPicture(16, 16, 5);
  kt::KezDocument document = kt::BuildKez(picture);
  kt::KezStream stream(document);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(g_moduleCount, 1);

  IThumbnailProvider* provider = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  EXPECT_EQ(g_moduleCount, 2);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(g_moduleCount, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

  IInitializeWithStream* init = nullptr;
  ASSERT_EQ(provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  ASSERT_EQ(init->Initialize(&stream, STGM_READ), S_OK);
  EXPECT_EQ(init->Release(), 1u);
  EXPECT_EQ(stream.RefCount(), 2);

  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  ASSERT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), S_OK);
  EXPECT_EQ(alpha, WTSAT_ARGB);
  EXPECT_EQ(stream.RefCount(), 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(provider->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  // 16 -> 256 repeats each stored pixel as a 16 x 16 block, top row first.
  for (int y = 0; y < 256; y += 5)
    for (int x = 0; x < 256; x += 3)
      ASSERT_EQ(Shown(bitmap, x, y), picture.pixels[(y / 16) * 16 + x / 16]) << x << "," << y;
  DeleteObject(bitmap);
}

TEST_F(ServerTest, ServerLockKeepsTheModuleLoaded) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(g_moduleCount, 1);

  auto* other = new ClassFactory(ClassFactory::kPxvKind);
  EXPECT_EQ(other->LockServer(FALSE), S_OK);
  EXPECT_EQ(other->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ServerTest, UnknownClassIsNotAvailableAndWritesNothing) {
  void* out = kUntouched;
  EXPECT_EQ(static_cast<std::uint32_t>(DllGetClassObject(kOtherClass, IID_IClassFactory, &out)), 0x80040111u);
  EXPECT_EQ(out, kUntouched);
  EXPECT_EQ(static_cast<std::uint32_t>(DllGetClassObject(IID_IThumbnailProvider, IID_IClassFactory, &out)),
            0x80040111u);
  EXPECT_EQ(g_moduleCount, 0);
}

TEST_F(ServerTest, FactoryAnswersOnlyItsOwnInterfaces) {
  void* out = kUntouched;
  EXPECT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IThumbnailProvider, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(g_moduleCount, 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(g_moduleCount, 0);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_KezThumbnailProvider, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(static_cast<void*>(factory), static_cast<void*>(unknown));
  EXPECT_EQ(factory->AddRef(), 3u);
  EXPECT_EQ(factory->Release(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(ServerTest, AggregationIsRefusedWithoutMakingAnything) {
  auto* factory = new ClassFactory(ClassFactory::kPxvKind);
  void* out = kUntouched;
  EXPECT_EQ(static_cast<std::uint32_t>(factory->CreateInstance(factory, IID_IUnknown, &out)), 0x80040110u);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(g_moduleCount, 1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(g_moduleCount, 1);
  factory->Release();
}

TEST_F(ServerTest, UnsupportedProviderInterfaceDestroysTheNewProvider) {
  auto* factory = new ClassFactory(ClassFactory::kPackedKind);
  void* out = kUntouched;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(g_moduleCount, 1);

  // IUnknown is the provider's IThumbnailProvider pointer.
  IUnknown* unknown = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  IThumbnailProvider* provider = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  EXPECT_EQ(static_cast<void*>(provider), static_cast<void*>(unknown));
  provider->Release();
  EXPECT_EQ(g_moduleCount, 2);
  EXPECT_EQ(unknown->Release(), 0u);
  factory->Release();
}

class FactoryKindTest : public ServerTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(FactoryKindTest, KindWithoutAReaderIsOutOfMemory) {
  auto* factory = new ClassFactory(GetParam());
  void* out = kUntouched;
  EXPECT_EQ(static_cast<std::uint32_t>(factory->CreateInstance(nullptr, IID_IThumbnailProvider, &out)),
            0x8007000Eu);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(g_moduleCount, 1);
  factory->Release();
}

INSTANTIATE_TEST_SUITE_P(Kinds, FactoryKindTest, ::testing::Values(-1, 2, 3, 0x7FFFFFFF));

// Each kind binds its own reader: kind 0 reads packed documents, kind 1
// ".kez" documents, and neither reads the other's.
struct BindingCase {
  const char* name;
  std::int32_t kind;
  bool packedDocument;
  HRESULT result;
};

class FactoryBindingTest : public ServerTest, public ::testing::WithParamInterface<BindingCase> {};

TEST_P(FactoryBindingTest, KindChoosesTheReader) {
  const BindingCase c = GetParam();
  const std::vector<std::uint32_t> pixels = kt::PatternPixels(8, 8, 3);
  std::vector<std::uint8_t> bytes;
  if (c.packedDocument) {
    bytes = kt::WritePackedDocument(kt::MakePackedPreviewDocument(8, 8, pixels, true));
  } else {
    bytes = kt::BuildKezBytes(kt::KezPicture{8, 8, pixels});
  }
  kt::TestStream stream(bytes);
  auto* factory = new ClassFactory(c.kind);
  IInitializeWithStream* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  factory->Release();
  ASSERT_EQ(init->Initialize(&stream, STGM_READ), S_OK);
  IThumbnailProvider* provider = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  init->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), c.result);
  EXPECT_EQ(provider->Release(), 0u);
  EXPECT_EQ(stream.RefCount(), 1);
  if (c.result == S_OK) {
    // 8 -> 64: 8 x 8 blocks.
    EXPECT_EQ(Shown(bitmap, 0, 0), pixels[0]);
    EXPECT_EQ(Shown(bitmap, 63, 63), pixels[63]);
    EXPECT_EQ(Shown(bitmap, 9, 63), pixels[57]);
    DeleteObject(bitmap);
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, FactoryBindingTest,
                         ::testing::Values(BindingCase{"PackedReadsPacked", 0, true, S_OK},
                                           BindingCase{"PackedRefusesKez", 0, false, S_FALSE},
                                           BindingCase{"KezReadsKez", 1, false, S_OK},
                                           BindingCase{"KezRefusesPacked", 1, true, S_FALSE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerTest, ReaderExceptionStaysInsideTheServer) {
  // A width that is not a number makes the packed reader throw.
  kt::PackedDocument document = kt::MakePackedPreviewDocument(8, 8, kt::PatternPixels(8, 8, 1), false);
  document.xml = kt::ThumbXml("8px", "8", "thumbnail");
  kt::TestStream stream(kt::WritePackedDocument(document));
  auto* factory = new ClassFactory(ClassFactory::kPackedKind);
  IThumbnailProvider* provider = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
  factory->Release();
  IInitializeWithStream* init = nullptr;
  ASSERT_EQ(provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
  ASSERT_EQ(init->Initialize(&stream, STGM_READ), S_OK);
  init->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), S_FALSE);
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ(alpha, WTSAT_UNKNOWN);
  EXPECT_EQ(stream.RefCount(), 1);
  provider->Release();
}

void FunctionInThisBinary() {}

TEST(DllMainTest, ProcessAttachRecordsTheHandleAndEveryCallSucceeds) {
  const auto handle = reinterpret_cast<HINSTANCE>(&FunctionInThisBinary);
  EXPECT_EQ(DllMain(handle, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(g_moduleHandle, handle);
  const auto other = reinterpret_cast<HINSTANCE>(0x1000);
  for (const DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
    EXPECT_EQ(DllMain(other, reason, nullptr), TRUE);
    EXPECT_EQ(g_moduleHandle, handle);
  }
}

}  // namespace
