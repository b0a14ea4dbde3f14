// The packed layered-image reader: a "kelpack" file header, an XML header
// whose Kelapp/Thumb element names the preview block, then "PAC " blocks
// stored raw or zlib-compressed. Only the ready-made preview is read.
#pragma once

#include <cstdint>

#include "lumo/image.h"
#include "platform/com.h"
#include "thumb/picture_rows.h"

// Reads the preview picture of a packed document from the stream's current
// position into `image` (resized to the preview's width x height). True when
// the preview was copied; false when the stream holds no usable preview. A
// width or height text that is not a number raises boost::bad_lexical_cast:
// the caller keeps it from crossing the COM boundary.
bool ReadPackedDocument(lumo::CImage32& image, IStream* stream);
// The same, offering a zlib-compressed preview's rows to `rows` (stored
// previews are copied into `image` as above): when they take it, it is
// inflated into them, finished when it inflates in full, and `image` is
// left alone.
bool ReadPackedDocument(lumo::CImage32& image, IStream* stream, PictureRows& rows);

// One-shot zlib inflate (15-bit window, zlib header, Adler-32) of the whole
// source into at most destinationSize bytes. True only when the stream ends
// within the destination; then *produced holds the bytes written. Otherwise
// false with *produced 0.
bool InflateBlock(const std::uint8_t* source, std::uint32_t sourceSize, std::uint8_t* destination,
                  std::uint32_t destinationSize, std::uint32_t* produced);
