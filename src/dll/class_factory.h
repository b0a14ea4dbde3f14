// The class factory: makes thumbnail providers bound to the document reader
// of its kind.
#pragma once

#include <cstdint>

#include "platform/com.h"

class ClassFactory final : public IClassFactory {
 public:
  // Which reader the providers get.
  static constexpr std::int32_t kPackedKind = 0;  // ReadPackedDocument
  static constexpr std::int32_t kPxvKind = 1;     // ReadPxvDocument

  // Reference count 1, counted in g_moduleCount until the last Release.
  explicit ClassFactory(std::int32_t kind);
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // CLASS_E_NOAGGREGATION for an outer object, E_OUTOFMEMORY for a kind
  // without a reader, else the new provider's answer to riid.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

 private:
  ~ClassFactory();

  std::int32_t m_kind;
  LONG m_refCount = 1;
};
