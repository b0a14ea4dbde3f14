#include "dll/class_factory.h"

#include <iterator>
#include <new>

#include "formats/packed/packed_reader.h"
#include "formats/pxv/pxv_reader.h"
#include "thumb/module_count.h"
#include "thumb/thumbnail_provider.h"

namespace {

// The document reader of each factory kind, by kind number; each offers
// the picture's rows to the provider as it decodes them.
constexpr bool (*kReaders[])(lumo::CImage32&, IStream*, PictureRows&) = {
    &ReadPackedDocument,  // ClassFactory::kPackedKind
    &ReadPxvDocument,     // ClassFactory::kPxvKind
};
static_assert(std::size(kReaders) == 2);

}  // namespace

ClassFactory::ClassFactory(std::int32_t kind) : m_kind(kind) { InterlockedIncrement(&g_moduleCount); }

ClassFactory::~ClassFactory() { InterlockedDecrement(&g_moduleCount); }

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  static const QITAB kInterfaces[] = {
      {&IID_IClassFactory, static_cast<int>(OFFSETOFCLASS(IClassFactory, ClassFactory))},
      {nullptr, 0},
  };
  return QISearch(this, kInterfaces, riid, ppv);
}

ULONG ClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

ULONG ClassFactory::Release() {
  const LONG count = InterlockedDecrement(&m_refCount);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  if (m_kind < 0 || static_cast<std::size_t>(m_kind) >= std::size(kReaders)) return E_OUTOFMEMORY;
  try {
    auto* provider = new (std::nothrow) TeskThumbnailProvider(RowsReader(kReaders[m_kind]));
    if (provider == nullptr) return E_OUTOFMEMORY;
    // The provider's own reference goes once the caller holds its answer; a
    // failed QueryInterface destroys the provider here.
    const HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
  if (fLock) {
    InterlockedIncrement(&g_moduleCount);
  } else {
    InterlockedDecrement(&g_moduleCount);
  }
  return S_OK;
}
