#include "platform/region.h"

#include <mutex>
#include <stdexcept>

#include "platform/kernel.h"

namespace platform {
namespace {

using VirtualAlloc2Fn = PVOID(WINAPI*)(HANDLE, PVOID, SIZE_T, ULONG, ULONG, MEM_EXTENDED_PARAMETER*, ULONG);

// Looked up at run time: older systems lack it, and the import would keep the
// DLL from loading there at all.
VirtualAlloc2Fn LookUpVirtualAlloc2() {
  static std::once_flag once;
  static VirtualAlloc2Fn fn = nullptr;
  std::call_once(once, [] {
    if (HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll"))
      fn = reinterpret_cast<VirtualAlloc2Fn>(reinterpret_cast<void*>(GetProcAddress(kernelbase, "VirtualAlloc2")));
  });
  return fn;
}

}  // namespace

void* ReserveAlignedRegion(std::size_t size, std::size_t alignment) {
  const VirtualAlloc2Fn virtualAlloc2 = LookUpVirtualAlloc2();
  if (virtualAlloc2 == nullptr) throw std::runtime_error("VirtualAlloc2 not found.");
  MEM_ADDRESS_REQUIREMENTS requirements{};
  requirements.Alignment = alignment;
  MEM_EXTENDED_PARAMETER parameter{};
  parameter.Type = MemExtendedParameterAddressRequirements;
  parameter.Pointer = &requirements;
  void* base = virtualAlloc2(GetCurrentProcess(), nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE,
                             &parameter, 1);
  if (base == nullptr) throw std::runtime_error("FailAlignedAlloc");
  return base;
}

void ReleaseAlignedRegion(void* base, std::size_t) { VirtualFree(base, 0, MEM_RELEASE); }

}  // namespace platform
