#include "platform/region.h"

#include <cstdint>
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

// Without VirtualAlloc2 (Windows before 10 version 1803, some Wine builds):
// reserve enough to contain an aligned range, give it back, and take the
// aligned range itself. Another thread may take the address in between, so
// a few tries are made.
void* ReserveAlignedFallback(std::size_t size, std::size_t alignment) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    void* probe = VirtualAlloc(nullptr, size + alignment, MEM_RESERVE, PAGE_NOACCESS);
    if (probe == nullptr) return nullptr;
    const std::uintptr_t aligned = (reinterpret_cast<std::uintptr_t>(probe) + alignment - 1) & ~(alignment - 1);
    VirtualFree(probe, 0, MEM_RELEASE);
    if (void* base = VirtualAlloc(reinterpret_cast<void*>(aligned), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
      return base;
  }
  return nullptr;
}

}  // namespace

void* ReserveAlignedRegion(std::size_t size, std::size_t alignment) {
  if (size == 0 || size > SIZE_MAX - alignment) throw std::runtime_error("FailAlignedAlloc");
  void* base = nullptr;
  if (const VirtualAlloc2Fn virtualAlloc2 = LookUpVirtualAlloc2()) {
    MEM_ADDRESS_REQUIREMENTS requirements{};
    requirements.Alignment = alignment;
    MEM_EXTENDED_PARAMETER parameter{};
    parameter.Type = MemExtendedParameterAddressRequirements;
    parameter.Pointer = &requirements;
    base = virtualAlloc2(GetCurrentProcess(), nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE, &parameter, 1);
  } else {
    base = ReserveAlignedFallback(size, alignment);
  }
  if (base == nullptr) throw std::runtime_error("FailAlignedAlloc");
  return base;
}

void ReleaseAlignedRegion(void* base, std::size_t) { VirtualFree(base, 0, MEM_RELEASE); }

}  // namespace platform
