#include <cstddef>
#include <stdexcept>

#include "lumo/image.h"
#include "lumo/image_buffer.h"
#include "lumo/image_limits.h"
#include "lumo/memory.h"
#include "lumo/memory_handle.h"

namespace lumo {
namespace {

NMemHandle* Handle(void* block) { return static_cast<NMemHandle*>(block); }

}  // namespace

CHandleImageBuffer32::~CHandleImageBuffer32() { Release(); }

void CHandleImageBuffer32::Release() {
  if (m_block == nullptr) return;
  if (m_pinCount > 0 && g_pagedMemory) Handle(m_block)->Unlock();
  FreeImageMemory(m_block, PixelCount(m_width, m_height) * 4);
  m_block = nullptr;
  m_data = nullptr;
  // No block, no pixels: a later Resize to the old size allocates again.
  m_width = 0;
  m_height = 0;
}

bool CHandleImageBuffer32::Resize(int width, int height) {
  if (width == m_width && height == m_height) return true;
  Release();
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  const std::size_t count = PixelCount(width, height);
  if (m_data == &m_inline && count == 1) {
    m_width = width;
    m_height = height;
    return true;
  }
  void* const block = count <= kMaxImagePixels ? AllocateImageMemory(count * 4) : nullptr;
  std::uint32_t* data = nullptr;
  if (block != nullptr && m_pinCount >= 1) {
    try {
      data = static_cast<std::uint32_t*>(g_pagedMemory ? Handle(block)->Lock() : block);
    } catch (const std::exception&) {  // a swapped-out unit that cannot be mapped back
      FreeImageMemory(block, count * 4);
      data = &m_inline;
    }
  }
  if (block == nullptr || data == &m_inline) {
    m_data = &m_inline;
    m_width = 1;
    m_height = 1;
    return false;
  }
  m_block = block;
  m_data = data;
  m_width = width;
  m_height = height;
  return true;
}

const std::uint32_t* CHandleImageBuffer32::PixelAddress(int, int) const {
  throw std::runtime_error("Shuold never called");
}

std::uint32_t* CHandleImageBuffer32::PixelAddress(int, int) { throw std::runtime_error("Shuold never called"); }

void CHandleImageBuffer32::Pin() {
  if (m_block != nullptr) m_data = static_cast<std::uint32_t*>(g_pagedMemory ? Handle(m_block)->Lock() : m_block);
  ++m_pinCount;
}

void CHandleImageBuffer32::Unpin() {
  --m_pinCount;
  if (m_block != nullptr) {
    if (g_pagedMemory) Handle(m_block)->Unlock();
    m_data = nullptr;
  }
}

}  // namespace lumo
