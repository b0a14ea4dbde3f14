#include "dll/module.h"

#include <new>

#include "dll/class_factory.h"
#include "platform/process_end.h"
#include "thumb/module_count.h"

HINSTANCE g_moduleHandle = nullptr;

const CLSID CLSID_KezThumbnailProvider = {
    0x09533617, 0x4b9f, 0x4f3c, {0x86, 0x43, 0x8a, 0x14, 0xbf, 0x00, 0x75, 0x9d}};

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID reserved) {
  // Thread notifications stay on: the block pools take an ended thread's
  // chunks back when the loader says the thread ends.
  if (fdwReason == DLL_PROCESS_ATTACH) g_moduleHandle = hinstDLL;
  // A process that is ending, not an unloading: skip teardown that takes
  // locks the vanished threads may hold.
  if (fdwReason == DLL_PROCESS_DETACH && reserved != nullptr) platform::NoteProcessEnding();
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(rclsid, CLSID_KezThumbnailProvider)) return CLASS_E_CLASSNOTAVAILABLE;
  if (ppv == nullptr) return E_POINTER;
  // Every factory handed out through the registered class reads ".kez".
  auto* factory = new (std::nothrow) ClassFactory(ClassFactory::kPxvKind);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() {
  // One atomic read of the count.
  const LONG count = InterlockedCompareExchange(&g_moduleCount, 0, 0);
  return count > 0 ? S_FALSE : S_OK;
}
