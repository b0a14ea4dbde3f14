#include "support/test_stream.h"

#include <algorithm>
#include <cstring>

namespace kez::testing {

HRESULT ReadOnlyStream::AnswerStreamInterfaces(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
    AddRef();
    *ppv = static_cast<IStream*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT TestStream::QueryInterface(REFIID riid, void** ppv) {
  if (ppv != nullptr && failQueryInterface != S_OK) {
    *ppv = nullptr;
    return failQueryInterface;
  }
  return AnswerStreamInterfaces(riid, ppv);
}

// Tests own the object on the stack or in a smart pointer: reaching zero does
// not delete, so the count can be inspected afterwards.
ULONG TestStream::AddRef() { return static_cast<ULONG>(++m_refCount); }
ULONG TestStream::Release() { return static_cast<ULONG>(--m_refCount); }

HRESULT TestStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  ++readCalls;
  if (pcbRead != nullptr) *pcbRead = 0;
  if (failRead != S_OK) return failRead;
  std::uint64_t n = cb;
  if (maxReadChunk != 0) n = std::min<std::uint64_t>(n, maxReadChunk);
  const std::uint64_t end = std::min<std::uint64_t>(ContentSize(), forbiddenFrom);
  if (m_position + n > end && m_position + n > forbiddenFrom && cb != 0) touchedForbidden = true;
  n = m_position >= end ? 0 : std::min<std::uint64_t>(n, end - m_position);
  if (n != 0) CopyContent(m_position, static_cast<std::uint8_t*>(pv), n);
  m_position += n;
  bytesRead += n;
  if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(n);
  return S_OK;
}

void TestStream::CopyContent(std::uint64_t offset, std::uint8_t* out, std::uint64_t count) const {
  std::memcpy(out, m_data.data() + offset, count);
}

HRESULT TestStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  ++seekCalls;
  if (failSeek != S_OK) return failSeek;
  std::int64_t base = origin == STREAM_SEEK_SET ? 0
                      : origin == STREAM_SEEK_CUR ? static_cast<std::int64_t>(m_position)
                      : origin == STREAM_SEEK_END ? static_cast<std::int64_t>(ContentSize())
                                                  : -1;
  if (base < 0) return STG_E_INVALIDFUNCTION;
  const std::int64_t target = base + move.QuadPart;
  if (target < 0) return STG_E_INVALIDFUNCTION;
  m_position = static_cast<std::uint64_t>(target);
  if (newPosition != nullptr) newPosition->QuadPart = m_position;
  return S_OK;
}

HRESULT TestStream::Stat(STATSTG* stat, DWORD) {
  ++statCalls;
  if (failStat != S_OK) return failStat;
  if (stat == nullptr) return STG_E_INVALIDPOINTER;
  std::memset(stat, 0, sizeof(*stat));
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = ContentSize();
  return S_OK;
}

}  // namespace kez::testing
