#include "formats/pxv/document_buffer.h"

#include <cstdlib>

#include "lumo/errors.h"

DocumentBufferHolder::~DocumentBufferHolder() { std::free(m_document.buffer); }

bool VerifyDocumentBuffer(const unsigned char* data, std::size_t size) {
  // The verifier asserts on buffers of 2^31 - 1 bytes or more; no sound
  // buffer is that large.
  if (size >= FLATBUFFERS_MAX_BUFFER_SIZE) return false;
  flatbuffers::Verifier verifier(data, size);
  return kez::doc::VerifyDocRootBuffer(verifier);
}

DocumentBuffer LoadDocumentBuffer(PageStream& stream) {
  const std::uint64_t length = stream.Length();
  // One Read takes a 32-bit count; longer contents cannot be a root record.
  if (length >= FLATBUFFERS_MAX_BUFFER_SIZE) throw lumo::PXVError("Wrong binary format");
  // malloc(0) may give null; a byte more keeps "empty" apart from "no memory".
  auto* buffer = static_cast<unsigned char*>(std::malloc(length == 0 ? 1 : length));
  if (buffer == nullptr) throw lumo::PXVError("Fail to alloc");
  std::int32_t got = 0;
  try {
    got = stream.Read(buffer, static_cast<std::int32_t>(length));
  } catch (...) {
    std::free(buffer);
    throw;
  }
  if (static_cast<std::uint64_t>(got) != length || !VerifyDocumentBuffer(buffer, length)) {
    std::free(buffer);
    throw lumo::PXVError("Wrong binary format");
  }
  return DocumentBuffer{buffer, kez::doc::GetDocRoot(buffer), length};
}
