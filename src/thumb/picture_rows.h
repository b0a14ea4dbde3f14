// A picture handed to the thumbnail provider row by row, as it is decoded,
// instead of as a whole image: the provider fits it on the fly and keeps
// only a few rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo {
class CImage32;
}

class PictureRows {
 public:
  virtual ~PictureRows() = default;

  // Offered once the picture's size is known (width, height >= 1): true
  // when its rows are wanted here. The reader then hands over everything it
  // decodes, picture first (pixels as CImage32 lays them out) and whatever
  // follows it, and calls Finish when those bytes are the picture;
  // otherwise (false) it fills the image as usual.
  virtual bool Begin(std::int32_t width, std::int32_t height) = 0;
  // Where the next decoded bytes go: at least one byte, *room of them.
  virtual unsigned char* Space(std::size_t* room) = 0;
  // `bytes` of the last Space were written.
  virtual void Wrote(std::size_t bytes) = 0;
  // The bytes handed over hold the whole picture, and the reader's answer
  // is that picture. Without it they count for nothing.
  virtual void Finish() = 0;
};
