// What the sanitizers are told about memory the library manages itself. The
// pools carve blocks out of regions and keep freed heap blocks for reuse, so
// AddressSanitizer would see neither a read past a block's end nor a use
// after free there: in AddressSanitizer builds free blocks and the slack
// behind live ones are poisoned by hand. LeakSanitizer does not scan the
// regions, so the region headers (which hold the only pointers to their class
// records) are registered as roots. Elsewhere all of it compiles to nothing.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEZ_ASAN 1
#endif
#endif
#if !defined(KEZ_ASAN) && defined(__SANITIZE_ADDRESS__)
#define KEZ_ASAN 1
#endif

#ifdef KEZ_ASAN
#include <sanitizer/asan_interface.h>
#if !defined(_WIN32)
#include <sanitizer/lsan_interface.h>
#define KEZ_LSAN 1
#endif
#endif

// For the few accesses the pools make to memory they keep poisoned (the link
// word of a free block).
#if defined(KEZ_ASAN) && defined(_MSC_VER) && !defined(__clang__)
#define KEZ_NO_ASAN __declspec(no_sanitize_address)
#elif defined(KEZ_ASAN)
#define KEZ_NO_ASAN __attribute__((no_sanitize_address))
#else
#define KEZ_NO_ASAN
#endif

namespace lumo::sanitizer {

inline void Poison(const volatile void* address, std::size_t size) {
#ifdef KEZ_ASAN
  ASAN_POISON_MEMORY_REGION(address, size);
#else
  (void)address;
  (void)size;
#endif
}

inline void Unpoison(const volatile void* address, std::size_t size) {
#ifdef KEZ_ASAN
  ASAN_UNPOISON_MEMORY_REGION(address, size);
#else
  (void)address;
  (void)size;
#endif
}

inline void RegisterRoot(const void* address, std::size_t size) {
#ifdef KEZ_LSAN
  __lsan_register_root_region(address, size);
#else
  (void)address;
  (void)size;
#endif
}

inline void UnregisterRoot(const void* address, std::size_t size) {
#ifdef KEZ_LSAN
  __lsan_unregister_root_region(address, size);
#else
  (void)address;
  (void)size;
#endif
}

}  // namespace lumo::sanitizer
