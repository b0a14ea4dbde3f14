// Interface ids that the SDK's headers declare but not every import library
// defines (MinGW-w64 10's libuuid lacks IThumbnailProvider's). An object's own
// definition is taken before any library member, so this is safe where the
// library has it too.
#include "platform/shell.h"

extern "C" const IID IID_IThumbnailProvider = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
