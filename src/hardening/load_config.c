/* What MSVC's runtime gives a binary and MinGW-w64's, as zig ships it, does
   not: the load configuration through which Windows finds the stack cookie
   and Control Flow Guard's tables, the cookie itself, and the guard's
   default check and dispatch (which the loader replaces where the process
   enforces the guard). Linked into every Windows binary we ship. */
#include <stdint.h>

/* The loader replaces a cookie that still holds this value, the one MSVC
   builds start with, by a random one before any code of the module runs. */
uintptr_t __stack_chk_guard = UINT64_C(0x00002B992DDFA232);

/* A smashed stack ends the process at once, as /GS does: __fastfail with
   FAST_FAIL_STACK_COOKIE_CHECK_FAILURE (2), which no handler can catch. */
__attribute__((noreturn)) void __stack_chk_fail(void) {
#if defined(__x86_64__)
  __asm__ volatile("int $0x29" : : "c"(2));
#elif defined(__aarch64__)
  register unsigned code __asm__("w0") = 2;
  __asm__ volatile("brk #0xf003" : : "r"(code));
#else
#error "no fast fail for this processor"
#endif
  __builtin_unreachable();
}

/* Where the guard is not enforced every indirect call goes through these:
   x64 calls the dispatch with the target in rax, ARM64 the check with the
   target in x15 and then the target itself. They live in .00cfg, which the
   loader rewrites. In assembly, so that they touch no register: the check
   returns, the dispatch jumps (ARM64 code never dispatches; it traps). */
__attribute__((naked)) static void check_nothing(void) { __asm__("ret"); }
#if defined(__x86_64__)
__attribute__((naked)) static void dispatch_directly(void) { __asm__("jmp *%rax"); }
#else
__attribute__((naked)) static void dispatch_directly(void) { __asm__("brk #0xf000"); }
#endif
__attribute__((section(".00cfg"), used)) void* const volatile __guard_check_icall_fptr = (void*)check_nothing;
__attribute__((section(".00cfg"), used)) void* const volatile __guard_dispatch_icall_fptr = (void*)dispatch_directly;

/* IMAGE_LOAD_CONFIG_DIRECTORY64 up to the long-jump targets (200 bytes),
   in assembly: GuardFlags takes a 32-bit absolute symbol, which no C
   initializer can. The __guard_* symbols are the linker's (/guard:cf). */
__asm__(
    "  .section .rdata,\"dr\"\n"
    "  .globl _load_config_used\n"
    "  .p2align 3\n"
    "_load_config_used:\n"
    "  .long 200, 0\n"                  /* Size, TimeDateStamp */
    "  .short 0, 0\n"                   /* MajorVersion, MinorVersion */
    "  .long 0, 0, 0\n"                 /* GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout */
    "  .quad 0, 0, 0, 0, 0, 0\n"        /* DeCommit thresholds, LockPrefixTable, allocation sizes, affinity */
    "  .long 0\n"                       /* ProcessHeapFlags */
    "  .short 0, 0\n"                   /* CSDVersion, DependentLoadFlags */
    "  .quad 0\n"                       /* EditList */
    "  .quad __stack_chk_guard\n"       /* SecurityCookie */
    "  .quad 0, 0\n"                    /* SEHandlerTable, SEHandlerCount (x86 only) */
    "  .quad __guard_check_icall_fptr\n"
    "  .quad __guard_dispatch_icall_fptr\n"
    "  .quad __guard_fids_table\n"
    "  .quad __guard_fids_count\n"
    "  .long __guard_flags\n"
    "  .short 0, 0\n"                   /* CodeIntegrity: Flags, Catalog */
    "  .long 0, 0\n"                    /* CatalogOffset, Reserved */
    "  .quad __guard_iat_table\n"
    "  .quad __guard_iat_count\n"
    "  .quad __guard_longjmp_table\n"
    "  .quad __guard_longjmp_count\n"
    "  .quad 0\n"                       /* DynamicValueRelocTable */
    "  .text\n");
