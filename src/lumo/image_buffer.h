// Pixel storage of a CImage32.
#pragma once

#include <cstdint>

namespace lumo {

// The storage interface; the slot order is part of the library's interface.
class CImageBuffer32 {
 public:
  virtual ~CImageBuffer32() = default;
  virtual void Release() = 0;
  virtual bool Resize(int width, int height) = 0;
  virtual const std::uint32_t* PixelAddress(int x, int y) const = 0;
  virtual std::uint32_t* PixelAddress(int x, int y) = 0;
  virtual bool IsAddressable() const = 0;
  virtual const std::uint32_t* Data() const = 0;
  virtual std::uint32_t* Data() = 0;
  virtual void Pin() = 0;
  virtual void Unpin() = 0;
};

// Heap storage: blocks from the size-class pools, one inline pixel for 1x1.
class CHeapImageBuffer32 final : public CImageBuffer32 {
 public:
  CHeapImageBuffer32() = default;
  ~CHeapImageBuffer32() override;
  CHeapImageBuffer32(const CHeapImageBuffer32&) = delete;
  CHeapImageBuffer32& operator=(const CHeapImageBuffer32&) = delete;

  void Release() override;
  bool Resize(int width, int height) override;
  // Both throw std::runtime_error "Shuold never called".
  const std::uint32_t* PixelAddress(int x, int y) const override;
  std::uint32_t* PixelAddress(int x, int y) override;
  bool IsAddressable() const override { return true; }
  const std::uint32_t* Data() const override { return m_data; }
  std::uint32_t* Data() override { return m_data; }
  void Pin() override {}
  void Unpin() override {}

  int Width() const { return m_width; }
  int Height() const { return m_height; }

 private:
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::uint32_t* m_data = &m_inline;
  std::uint32_t m_inline = 0;
};

// Paged storage: the block is a memory handle, addressable only while
// pinned; Data() is null while unpinned.
class CHandleImageBuffer32 final : public CImageBuffer32 {
 public:
  CHandleImageBuffer32() = default;
  ~CHandleImageBuffer32() override;
  CHandleImageBuffer32(const CHandleImageBuffer32&) = delete;
  CHandleImageBuffer32& operator=(const CHandleImageBuffer32&) = delete;

  void Release() override;
  bool Resize(int width, int height) override;
  // Both throw std::runtime_error "Shuold never called".
  const std::uint32_t* PixelAddress(int x, int y) const override;
  std::uint32_t* PixelAddress(int x, int y) override;
  bool IsAddressable() const override { return true; }
  const std::uint32_t* Data() const override { return m_data; }
  std::uint32_t* Data() override { return m_data; }
  void Pin() override;
  void Unpin() override;

 private:
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::uint32_t* m_data = &m_inline;
  std::uint32_t m_inline = 0;
  void* m_block = nullptr;  // from AllocateImageMemory: a memory handle in paged mode
  std::int32_t m_pinCount = 0;
};

}  // namespace lumo
