#include "lumo/image.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>

#include "platform/critical_section_guard.h"

namespace lumo {

std::uint8_t g_pagedMemory = 0;

void CImageBase::SetGeometry(std::int32_t width, std::int32_t height, double bytesPerPixel) {
  m_width = width;
  m_height = height;
  // Through int64 so that an out-of-range row size wraps instead of being
  // undefined; no caller walks rows by m_rowBytes.
  m_rowBytes = static_cast<std::int32_t>(static_cast<std::int64_t>(std::ceil(width * bytesPerPixel)));
  const bool pow2 = std::popcount(static_cast<std::uint32_t>(width)) <= 1 &&
                    std::popcount(static_cast<std::uint32_t>(height)) <= 1;
  m_isPow2 = pow2 ? 1 : 0;
}

CImage32::CImage32() {
  InitializeCriticalSectionAndSpinCount(&m_cs, 1024);
  try {
    if (g_pagedMemory) {
      m_buffer = std::make_unique<CHandleImageBuffer32>();
    } else {
      m_buffer = std::make_unique<CHeapImageBuffer32>();
    }
  } catch (...) {
    DeleteCriticalSection(&m_cs);
    throw;
  }
  m_pixels = nullptr;
  m_buffer->Resize(1, 1);
  SetGeometry(1, 1, 4.0);
  RefreshPixels();
  RefreshPixels();
}

CImage32::~CImage32() {
  m_buffer.reset();
  DeleteCriticalSection(&m_cs);
}

void CImage32::RefreshPixels() {
  if (m_buffer->IsAddressable()) m_pixels = m_buffer->Data();
}

bool CImage32::Resize(int width, int height) {
  if (width == m_width && height == m_height) return true;
  const int w = width <= 0 ? 1 : width;
  const int h = height <= 0 ? 1 : height;
  if (!m_buffer->Resize(w, h)) {
    SetGeometry(1, 1, 4.0);
    RefreshPixels();
    return false;
  }
  SetGeometry(w, h, 4.0);
  RefreshPixels();
  return true;
}

void CImage32::SetPixel(int x, int y, std::uint32_t colour) {
  if (x < 0 || x >= m_width || y < 0 || y >= m_height) return;
  std::uint32_t* address = m_pixels != nullptr
                               ? m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + x
                               : m_buffer->PixelAddress(x, y);
  if (address != nullptr) *address = colour;
}

void CImage32::Fill(std::uint32_t colour) {
  ImageLock lock(this);
  if (m_width == 0 || m_height == 0) return;
  std::uint32_t* pixels = m_pixels != nullptr ? m_pixels : m_buffer->PixelAddress(0, 0);
  std::fill_n(pixels, static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), colour);
}

bool CImage32::FillChecker(int columns, int rows, std::uint32_t colourA, std::uint32_t colourB) {
  if (columns < 1 || rows < 1 || m_width < 1 || m_height < 1) return false;
  ImageLock lock(this);
  const int height = std::min(rows, m_height);
  const int width = std::min(columns, m_width);
  for (int y = 0; y < height; ++y) {
    std::uint32_t* row = m_pixels != nullptr ? m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width)
                                             : m_buffer->PixelAddress(0, y);
    const bool topHalf = (y % 16) < 8;
    for (int x = 0; x < width; ++x) {
      const bool leftHalf = (x % 16) < 8;
      row[x] = topHalf != leftHalf ? colourB : colourA;
    }
  }
  return true;
}

void CImage32::Lock() {
  if (!g_pagedMemory) return;
  platform::CriticalSectionGuard guard(m_cs);
  // The count changes only under the image's lock; a pin that throws (a
  // block that cannot be mapped back) leaves it unlocked.
  if (m_lockCount == 0) {
    m_buffer->Pin();
    RefreshPixels();
  }
  ++m_lockCount;
}

void CImage32::Unlock() {
  if (!g_pagedMemory) return;
  platform::CriticalSectionGuard guard(m_cs);
  if (--m_lockCount == 0) {
    m_buffer->Unpin();
    RefreshPixels();
  }
}

std::uint32_t* CImage32::RowAddress(int y) {
  if (y < 0 || y >= m_height) return nullptr;
  if (m_pixels != nullptr) return m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width);
  return m_buffer->PixelAddress(0, y);
}

const std::uint32_t* CImage32::RowAddress(int y) const {
  if (y < 0 || y >= m_height) return nullptr;
  if (m_pixels != nullptr) return m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width);
  return static_cast<const CImageBuffer32&>(*m_buffer).PixelAddress(0, y);
}

ImageLock::ImageLock(CImage32* image) : m_image(image) {
  if (g_pagedMemory) {
    if (m_image != nullptr) {
      m_image->Lock();
      m_locked = true;
    }
  } else {
    m_locked = true;
  }
}

ImageLock::~ImageLock() {
  if (g_pagedMemory && m_locked && m_image != nullptr) m_image->Unlock();
}

}  // namespace lumo
