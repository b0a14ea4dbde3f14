// The ".kez" document reader: the DocumentReader bound by the class factory
// of the page-store kind.
#pragma once

#include "lumo/image.h"
#include "platform/com.h"
#include "thumb/picture_rows.h"

// Reads the thumbnail stored in a ".kez" document from `stream` (at its
// current position) into `image`. False when the stream is not a ".kez"
// document or an error occurred (the image may then hold the 64x64
// placeholder); true otherwise, with the stored picture in `image` when the
// document has a readable one.
bool ReadPxvDocument(lumo::CImage32& image, IStream* stream);

// The same, offering the picture's rows to `rows` (see ExtractThumbnail).
bool ReadPxvDocument(lumo::CImage32& image, IStream* stream, PictureRows& rows);
