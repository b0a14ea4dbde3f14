// The square output image as the shell receives it: a 32-bit bottom-up DIB
// section, pixel values copied unchanged (bytes B, G, R, A; straight alpha).
#pragma once

#include <cstdint>

#include "lumo/image.h"
#include "platform/gdi.h"

// Makes a cx x cx DIB section and copies `image` into it, last image row
// first. *phbmp receives the section's handle whatever it is (null when
// CreateDIBSection fails). False when there is no handle or no pixel memory.
bool CreateThumbnailBitmap(const lumo::CImage32& image, int cx, HBITMAP* phbmp);

// The pixel copy on its own: cx x cx pixels into `bits` (cx * cx * 4 bytes),
// written strictly in order from the first byte, image row cx - 1 first.
// Pixels outside the image are 0.
void CopyBottomUp(const lumo::CImage32& image, int cx, std::uint8_t* bits);
