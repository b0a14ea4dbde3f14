#include <cstddef>
#include <cstring>

#include "lumo/image.h"
#include "lumo/image_limits.h"
#include "lumo/memory.h"
#include "lumo/memory_handle.h"

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
      // A memory handle in paged mode: addressable only while locked.
      m_block = block;
      m_pixels = g_pagedMemory ? nullptr : static_cast<std::uint8_t*>(block);
    }
  }
  SetGeometry(width, height, 1.0);
}

void CImage8::Fill(std::uint8_t value) {
  Image8Lock lock(this);
  std::memset(m_pixels, value, PixelCount(m_width, m_height));
}

Image8Lock::Image8Lock(CImage8* image) : m_image(image) {
  // Locked already (an outer guard) when m_pixels is set: nothing to do.
  if (g_pagedMemory && m_image->m_pixels == nullptr && m_image->m_block != nullptr) {
    m_image->m_pixels = static_cast<std::uint8_t*>(static_cast<NMemHandle*>(m_image->m_block)->Lock());
    m_locked = true;
  }
}

Image8Lock::~Image8Lock() {
  if (!m_locked) return;
  static_cast<NMemHandle*>(m_image->m_block)->Unlock();
  m_image->m_pixels = nullptr;
}

}  // namespace lumo
