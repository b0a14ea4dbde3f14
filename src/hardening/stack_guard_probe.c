/* Not shipped: shows that the build's stack cookies work. Given an argument
   longer than its buffer, it overruns the buffer and must die by the fast
   fail (0xC0000409), never return; given "cookie", it prints the cookie the
   loader gave it, which must be new in every process. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

extern uintptr_t __stack_chk_guard;

__attribute__((noinline)) static void Copy(const char* text) {
  char buffer[16];
  strcpy(buffer, text);
  puts(buffer);
}

static void (*volatile g_copy)(const char*) = Copy;

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "cookie") == 0) {
    printf("%016llx\n", (unsigned long long)__stack_chk_guard);
    return 0;
  }
  g_copy(argc > 1 ? argv[1] : "fits");
  return 0;
}
