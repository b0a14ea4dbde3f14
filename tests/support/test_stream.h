// An IStream over bytes in memory that counts what is asked of it and fails
// on demand: the stream that tests, fuzzers and benchmarks hand to readers.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com.h"

namespace kez::testing {

// The IStream calls no reader makes, answered as a read-only stream would.
class ReadOnlyStream : public IStream {
 public:
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 protected:
  // QueryInterface for IUnknown, ISequentialStream and IStream, all this one.
  HRESULT AnswerStreamInterfaces(REFIID riid, void** ppv);
};

class TestStream : public ReadOnlyStream {
 public:
  explicit TestStream(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}
  virtual ~TestStream() = default;

  // Fault switches: a non-zero HRESULT makes that call return it.
  HRESULT failRead = S_OK;
  HRESULT failSeek = S_OK;
  HRESULT failStat = S_OK;
  HRESULT failQueryInterface = S_OK;
  // Reads deliver at most this many bytes per call (0: no limit).
  ULONG maxReadChunk = 0;
  // Bytes at or beyond this offset are never delivered: a read reaching them
  // stops short and sets `touchedForbidden` (UINT64_MAX: none forbidden).
  std::uint64_t forbiddenFrom = UINT64_MAX;

  // What was asked.
  std::uint64_t bytesRead = 0;
  int readCalls = 0;
  int seekCalls = 0;
  int statCalls = 0;
  bool touchedForbidden = false;

  LONG RefCount() const { return m_refCount; }
  std::uint64_t Position() const { return m_position; }
  const std::vector<std::uint8_t>& Data() const { return m_data; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;

 protected:
  // The bytes behind the stream; other layouts (sparse pages) override both.
  virtual std::uint64_t ContentSize() const { return m_data.size(); }
  virtual void CopyContent(std::uint64_t offset, std::uint8_t* out, std::uint64_t count) const;

 private:
  std::vector<std::uint8_t> m_data;
  std::uint64_t m_position = 0;
  LONG m_refCount = 1;
};

}  // namespace kez::testing
