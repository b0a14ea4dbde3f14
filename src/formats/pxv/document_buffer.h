// The document's root record: one FlatBuffers buffer, loaded whole from the
// page stream of vidx 0 and verified against doc_root.fbs before use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/pxv/doc_root_generated.h"
#include "formats/pxv/page_stream.h"

// The loaded root: the buffer (freed with std::free by its owner) and the
// root table inside it.
struct DocumentBuffer {
  unsigned char* buffer = nullptr;
  const kez::doc::DocRoot* root = nullptr;
  std::size_t size = 0;
};

// Owns a DocumentBuffer's memory for the span of a scope.
class DocumentBufferHolder {
 public:
  explicit DocumentBufferHolder(DocumentBuffer document) : m_document(document) {}
  ~DocumentBufferHolder();
  DocumentBufferHolder(const DocumentBufferHolder&) = delete;
  DocumentBufferHolder& operator=(const DocumentBufferHolder&) = delete;
  const DocumentBuffer& operator*() const { return m_document; }
  const DocumentBuffer* operator->() const { return &m_document; }

 private:
  DocumentBuffer m_document;
};

// True when `data` is a sound root record: the generated verifier with its
// default options (depth 64, 1,000,000 tables, alignment checked).
bool VerifyDocumentBuffer(const unsigned char* data, std::size_t size);

// Reads the whole content of `stream` (open, at position 0) and verifies it.
// lumo::PXVError "Fail to alloc" or "Wrong binary format" on failure.
DocumentBuffer LoadDocumentBuffer(PageStream& stream);
