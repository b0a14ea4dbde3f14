#include "support/hostile_stream.h"

namespace kez::testing {
namespace {
constexpr HRESULT kPending = static_cast<HRESULT>(0x8000000Au);  // E_PENDING
}  // namespace

HRESULT HostileStream::QueryInterface(REFIID riid, void** ppv) { return AnswerStreamInterfaces(riid, ppv); }

HRESULT HostileStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  const std::uint8_t b = Next(m_plan.read, m_reads);
  ULONG got = 0;
  auto deliver = [&](ULONG count) { return m_inner->Read(pv, count, &got); };
  HRESULT hr = S_OK;
  if (b >= 0x80 && b <= 0xDF) {
    const ULONG k = b & 0x3F;
    const auto n = static_cast<ULONG>(static_cast<std::uint64_t>(cb) * k / 64);
    hr = deliver(n == 0 && k != 0 && cb != 0 ? 1 : n);
    if (SUCCEEDED(hr) && b >= 0xC0) hr = S_FALSE;
  } else if (b == 0xE0 || b == 0xE3) {
    hr = b == 0xE0 ? E_FAIL : STG_E_ACCESSDENIED;
  } else if (b == 0xE1) {
    deliver(cb);
    hr = E_FAIL;
  } else if (b == 0xE2) {
    hr = deliver(cb);
    ++got;
  } else if (b == 0xE4) {
    deliver(cb / 2);
    hr = kPending;
  } else {
    hr = deliver(cb);
  }
  if (pcbRead != nullptr) *pcbRead = got;
  return hr;
}

HRESULT HostileStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  const std::uint8_t b = Next(m_plan.seek, m_seeks);
  if (b >= 0x80 && b <= 0x9F) return E_FAIL;
  if (b >= 0xC0 && b <= 0xDF) {
    LARGE_INTEGER none{};
    return m_inner->Seek(none, STREAM_SEEK_CUR, newPosition);
  }
  const HRESULT hr = m_inner->Seek(move, origin, newPosition);
  if (FAILED(hr) || b < 0xA0 || b > 0xBF) return hr;
  LARGE_INTEGER off{};
  off.QuadPart = static_cast<LONGLONG>(b & 0x1F) - 16;
  // A landing before the start fails inside; the stream then stays put.
  m_inner->Seek(off, STREAM_SEEK_CUR, newPosition);
  return hr;
}

HRESULT HostileStream::Stat(STATSTG* stat, DWORD flags) {
  const std::uint8_t b = Next(m_plan.stat, m_stats);
  if (b >= 0x80 && b <= 0x8F) return E_FAIL;
  const HRESULT hr = m_inner->Stat(stat, flags);
  if (FAILED(hr) || stat == nullptr) return hr;
  std::uint64_t& size = stat->cbSize.QuadPart;
  if (b >= 0x90 && b <= 0x9F) {
    const std::uint64_t less = std::uint64_t(b & 15) * 4099 + 1;
    size = size > less ? size - less : 0;
  } else if (b >= 0xA0 && b <= 0xAF) {
    size += (std::uint64_t(b & 15) + 1) * 65536;
  } else if (b == 0xB0) {
    size = 0;
  } else if (b == 0xB1) {
    size = UINT64_MAX;
  } else if (b == 0xB2) {
    size = std::uint64_t{1} << 63;
  } else if (b == 0xB3) {
    size = std::uint64_t{1} << 32;
  } else if (b == 0xB4 && size != 0) {
    --size;
  }
  return hr;
}

}  // namespace kez::testing
