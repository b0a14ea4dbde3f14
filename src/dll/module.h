// The module's entry points: DllMain, the class object, the unload query and
// self-registration, plus the module handle and the provider's class id.
#pragma once

#include "platform/com.h"

// Recorded at process attach; registration finds the module's path from it.
extern HINSTANCE g_moduleHandle;

// {09533617-4B9F-4F3C-8643-8A14BF00759D}
extern const CLSID CLSID_KezThumbnailProvider;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpReserved);

// A page-store (".kez") class factory for CLSID_KezThumbnailProvider;
// CLASS_E_CLASSNOTAVAILABLE for any other class (*ppv untouched).
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK once no object is alive and no server lock is held, else S_FALSE.
STDAPI DllCanUnloadNow();
// S_OK or the first failure; nothing is undone.
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
// For the command line "user" (any case): the same entries under
// HKEY_CURRENT_USER\Software\Classes, written when `install` is set and
// removed otherwise (regsvr32 /n /i:user, regsvr32 /u /n /i:user); any other
// command line is E_INVALIDARG.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);
