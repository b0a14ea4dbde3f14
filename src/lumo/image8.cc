#include <cstddef>
#include <cstring>

#include "lumo/image.h"
#include "lumo/image_limits.h"
#include "lumo/memory.h"

namespace lumo {

CImage8::CImage8() : m_pixels(reinterpret_cast<std::uint8_t*>(&m_inline)) { SetGeometry(1, 1, 1.0); }

CImage8::~CImage8() {
  if (m_pixels != reinterpret_cast<std::uint8_t*>(&m_inline) && m_block != nullptr)
    FreeImageMemory(m_block, PixelCount(m_width, m_height));
}

void CImage8::Resize(int width, int height) {
  // Callers are meant to pass sizes of at least 1; a zero or negative one
  // would give a block whose size disagrees with the geometry.
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  if (width == m_width && height == m_height) return;
  std::uint8_t* const inlineStore = reinterpret_cast<std::uint8_t*>(&m_inline);
  if (m_pixels != inlineStore && m_block != nullptr) {
    FreeImageMemory(m_block, PixelCount(m_width, m_height));
    m_block = nullptr;
    m_pixels = nullptr;
  }
  const std::size_t count = PixelCount(width, height);
  if (!(m_pixels == inlineStore && count == 1)) {
    void* block = count <= kMaxImagePixels ? AllocateImageMemory(count) : nullptr;
    if (block == nullptr) {
      m_pixels = inlineStore;
      width = 1;
      height = 1;
    } else {
      m_block = block;
      m_pixels = static_cast<std::uint8_t*>(block);
    }
  }
  SetGeometry(width, height, 1.0);
}

void CImage8::Fill(std::uint8_t value) {
  // In paged mode m_block is a memory handle to lock around the write; paged
  // storage is not part of this build, so the block is always plain memory.
  std::memset(m_pixels, value, PixelCount(m_width, m_height));
}

}  // namespace lumo
