// An IStream that misbehaves as a script says, over another stream: streams
// over network or cloud files return short reads and errors, fail or
// misplace seeks, and report sizes that do not match their data. Each kind
// of call (Read, Seek, Stat) has a plan: call n takes byte n of its plan,
// calls past the plan's end behave.
//
//   Read:  0x80..0xBF   delivers (0x3F & b) / 64 of the count (at least one
//                       byte unless that is 0), S_OK; 0x80: nothing
//          0xC0..0xDF   the same short count, S_FALSE
//          0xE0 E_FAIL, nothing read    0xE1 E_FAIL after reading it all
//          0xE2 reads it all and claims one byte more than asked
//          0xE3 STG_E_ACCESSDENIED      0xE4 half, then E_PENDING
//   Seek:  0x80..0x9F   E_FAIL, position unchanged
//          0xA0..0xBF   S_OK, lands (b & 0x1F) - 16 bytes off target
//          0xC0..0xDF   S_OK without moving
//   Stat:  0x80..0x8F   E_FAIL
//          0x90..0x9F   size (b & 15) * 4099 + 1 bytes too small
//          0xA0..0xAF   size ((b & 15) + 1) pages of 65536 too large
//          0xB0 0   0xB1 UINT64_MAX   0xB2 2^63   0xB3 2^32   0xB4 one byte short
//   Every other byte: the call behaves.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com.h"
#include "support/test_stream.h"

namespace kez::testing {

struct HostilePlan {
  std::vector<std::uint8_t> read;
  std::vector<std::uint8_t> seek;
  std::vector<std::uint8_t> stat;
};

class HostileStream final : public ReadOnlyStream {
 public:
  // `inner` stays owned by the caller and must outlive this stream.
  HostileStream(IStream* inner, HostilePlan plan) : m_inner(inner), m_plan(std::move(plan)) {}

  LONG RefCount() const { return m_refCount; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refCount); }
  // Owned by the caller: reaching zero does not delete.
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refCount); }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;

 private:
  static std::uint8_t Next(const std::vector<std::uint8_t>& plan, std::size_t& calls) {
    const std::size_t n = calls++;
    return n < plan.size() ? plan[n] : 0;
  }

  IStream* m_inner;
  HostilePlan m_plan;
  std::size_t m_reads = 0;
  std::size_t m_seeks = 0;
  std::size_t m_stats = 0;
  LONG m_refCount = 1;
};

}  // namespace kez::testing
