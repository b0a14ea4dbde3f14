#include <cstddef>
#include <exception>
#include <stdexcept>

#include "lumo/image_buffer.h"
#include "lumo/image_limits.h"
#include "lumo/pool.h"

namespace lumo {

CHeapImageBuffer32::~CHeapImageBuffer32() { Release(); }

void CHeapImageBuffer32::Release() {
  if (m_data != nullptr && m_data != &m_inline) {
    PoolFree(m_data, PixelCount(m_width, m_height) * 4);
    m_data = nullptr;
    // Without a block the buffer holds no pixels: a later Resize to the old
    // size must allocate again rather than report success over nothing.
    m_width = 0;
    m_height = 0;
  }
}

bool CHeapImageBuffer32::Resize(int width, int height) {
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
  void* block = nullptr;
  if (count <= kMaxImagePixels) {
    // Storage failure is a false result, never an exception: the pools throw
    // when no region can be reserved, the heap path returns null.
    try {
      block = PoolAllocate(count * 4);
    } catch (const std::exception&) {
      block = nullptr;
    }
  }
  if (block == nullptr) {
    m_data = &m_inline;
    m_width = 1;
    m_height = 1;
    return false;
  }
  m_data = static_cast<std::uint32_t*>(block);
  m_width = width;
  m_height = height;
  return true;
}

const std::uint32_t* CHeapImageBuffer32::PixelAddress(int, int) const {
  throw std::runtime_error("Shuold never called");
}

std::uint32_t* CHeapImageBuffer32::PixelAddress(int, int) { throw std::runtime_error("Shuold never called"); }

}  // namespace lumo
