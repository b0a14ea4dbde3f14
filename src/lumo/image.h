// Images: CImage32 (0xAARRGGBB, straight alpha, rows from the top, no
// padding) and its one-byte sibling CImage8.
#pragma once

#include <cstdint>
#include <memory>

#include "lumo/image_buffer.h"
#include "platform/kernel.h"

namespace lumo {

// Process-wide: set before the first image to give images paged storage.
extern std::uint8_t g_pagedMemory;

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kCheckerGrey = 0xFFE0E0E0u;

class CImageBase {
 public:
  virtual ~CImageBase() = default;
  virtual bool IsReady() const = 0;

  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::int32_t m_rowBytes = 0;
  std::uint8_t m_isPow2 = 0;

 protected:
  void SetGeometry(std::int32_t width, std::int32_t height, double bytesPerPixel);
};

class CImage32 : public CImageBase {
 public:
  CImage32();
  ~CImage32() override;
  CImage32(const CImage32&) = delete;
  CImage32& operator=(const CImage32&) = delete;

  bool IsReady() const override { return true; }
  // A dimension below 1 becomes 1; false (and 1x1) when storage runs out,
  // which includes sizes of more than 0x7FFFFFFF pixels.
  virtual bool Resize(int width, int height);

  void SetPixel(int x, int y, std::uint32_t colour);
  void Fill(std::uint32_t colour);
  bool FillChecker(int columns, int rows, std::uint32_t colourA, std::uint32_t colourB);

  void Lock();
  void Unlock();

  // Pixel (0, y), through the cached pointer or the buffer; null when the
  // row does not exist.
  std::uint32_t* RowAddress(int y);
  const std::uint32_t* RowAddress(int y) const;

  std::int32_t m_lockCount = 0;
  CRITICAL_SECTION m_cs;
  std::unique_ptr<CImageBuffer32> m_buffer;
  std::uint32_t* m_pixels = nullptr;

 private:
  void RefreshPixels();
};

class CImage8 : public CImageBase {
 public:
  CImage8();
  ~CImage8() override;
  CImage8(const CImage8&) = delete;
  CImage8& operator=(const CImage8&) = delete;

  bool IsReady() const override { return true; }
  void Resize(int width, int height);
  void Fill(std::uint8_t value);

  std::uint8_t* m_pixels;  // null while a paged block is not locked (Image8Lock)
  void* m_block = nullptr;
  std::uint64_t m_inline = 0;
};

// Holds a CImage8's block locked, m_pixels valid, in paged mode (where its
// block is a memory handle); a no-op otherwise, and inside another guard.
// The image must not be resized while a guard holds it.
class Image8Lock {
 public:
  explicit Image8Lock(CImage8* image);
  ~Image8Lock();
  Image8Lock(const Image8Lock&) = delete;
  Image8Lock& operator=(const Image8Lock&) = delete;

 private:
  CImage8* m_image;
  bool m_locked = false;
};

// Holds an image locked for pixel access; a no-op unless paged memory is on.
class ImageLock {
 public:
  explicit ImageLock(CImage32* image);
  ~ImageLock();
  ImageLock(const ImageLock&) = delete;
  ImageLock& operator=(const ImageLock&) = delete;

 private:
  CImage32* m_image;
  bool m_locked = false;
};

}  // namespace lumo
