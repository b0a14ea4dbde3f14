// The thumbnail as the shell receives it: a cx x cx, 32-bit, bottom-up DIB
// section whose memory starts zeroed, the transparent square the fitted
// picture is placed on. Pixel values go in unchanged (bytes B, G, R, A;
// straight alpha).
#pragma once

#include <cstdint>

#include "compose/resample_rows.h"
#include "lumo/image.h"
#include "platform/gdi.h"

// Makes the section. *bits is its pixel memory, or null when it has none
// (the handle, if any, then still needs deleting); the handle is null when
// CreateDIBSection fails.
HBITMAP CreateThumbnailSection(int cx, std::uint8_t** bits);

// Where a width x height picture with its top-left pixel at column `left`
// and row `top` of the square (rows from the top) keeps its rows in the
// section: the square's row y is the section's memory row cx - 1 - y. The
// picture must lie inside the square.
lumo::RowTarget SectionRows(std::uint8_t* bits, int cx, int left, int top, int width, int height);

// Copies the picture there, clipped to the square; rows of the picture
// without an address are left as they are.
void CopyIntoSection(const lumo::CImage32& picture, int cx, int left, int top, std::uint8_t* bits);
