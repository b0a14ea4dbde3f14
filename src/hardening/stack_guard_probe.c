/* Not shipped: shows that the build's stack cookies work. Given an argument
   longer than its buffer, it overruns the buffer and must die by the fast
   fail (0xC0000409), never return. */
#include <stdio.h>
#include <string.h>

__attribute__((noinline)) static void Copy(const char* text) {
  char buffer[16];
  strcpy(buffer, text);
  puts(buffer);
}

static void (*volatile g_copy)(const char*) = Copy;

int main(int argc, char** argv) {
  g_copy(argc > 1 ? argv[1] : "fits");
  return 0;
}
