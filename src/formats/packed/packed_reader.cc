#include "formats/packed/packed_reader.h"

#include <tinyxml.h>
#include <zlib.h>

#include <algorithm>
#include <boost/lexical_cast.hpp>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formats/packed/packed_format.h"
#include "formats/packed/stream_reads.h"
#include "formats/packed/xml_nesting.h"

namespace {

using namespace packed;

// What the Thumb element says about the preview.
struct PreviewInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string bin;
};

// An empty (or missing) attribute reads as 0; any other text must be an
// optional sign and decimal digits within int32, else bad_lexical_cast.
std::int32_t AttributeNumber(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  return boost::lexical_cast<std::int32_t>(std::string(text));
}

// Finds the first top-level Kelapp element and its first Thumb child. The
// parser's error state is not consulted: whatever it built is searched.
bool FindPreview(const char* xmlText, PreviewInfo& preview) {
  TiXmlDocument document;
  document.Parse(xmlText, nullptr, TIXML_DEFAULT_ENCODING);
  const TiXmlElement* kelapp = nullptr;
  for (const TiXmlNode* node = document.FirstChild(); node != nullptr; node = node->NextSibling()) {
    const TiXmlElement* element = node->ToElement();  // comments or text named Kelapp do not count
    if (element != nullptr && std::strcmp(element->Value(), "Kelapp") == 0) {
      kelapp = element;
      break;
    }
  }
  if (kelapp == nullptr) return false;
  const TiXmlElement* thumb = kelapp->FirstChildElement("Thumb");
  if (thumb == nullptr) return false;
  const char* width = thumb->Attribute("width");
  const char* height = thumb->Attribute("height");
  const char* bin = thumb->Attribute("bin");
  preview.width = AttributeNumber(width);
  preview.height = AttributeNumber(height);
  preview.bin = bin != nullptr ? bin : "";
  return true;
}

// The name runs to its first zero byte, or fills the whole field when it has
// none; nothing past the header is looked at.
bool NameMatches(const std::uint8_t* header, const std::string& bin) {
  const std::uint8_t* name = header + kNameOffset;
  const void* zero = std::memchr(name, 0, kNameSize);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - name) : kNameSize;
  return length == bin.size() && std::memcmp(name, bin.data(), length) == 0;
}

// A stored preview: the first `needed` bytes go straight into the pixels; the
// rest of rawSize must still be there, but is not kept.
bool CopyStoredPreview(IStream* stream, std::uint32_t rawSize, std::uint8_t* pixels, std::uint32_t needed) {
  if (ReadFully(stream, pixels, needed) < needed) return false;
  return ReadAndDrop(stream, rawSize - needed);
}

bool CopyZlibPreview(IStream* stream, std::uint32_t storedSize, std::uint32_t rawSize, std::uint8_t* pixels,
                     std::uint32_t needed) {
  // No zlib stream of storedSize bytes fills more than this, so inflating into
  // it succeeds exactly when inflating into rawSize bytes would.
  const std::uint64_t capacity = std::min<std::uint64_t>(rawSize, storedSize * kMaxDeflateRatio);
  if (capacity < needed || capacity > kMaxInflateBuffer) return false;
  std::vector<std::uint8_t> input;
  if (!ReadToVector(stream, storedSize, input)) return false;
  std::uint32_t produced = 0;
  if (capacity == needed)  // the usual case: no staging buffer needed
    return InflateBlock(input.data(), storedSize, pixels, needed, &produced) && produced == needed;
  std::vector<std::uint8_t> output(static_cast<std::size_t>(capacity));
  input.shrink_to_fit();
  if (!InflateBlock(input.data(), storedSize, output.data(), static_cast<std::uint32_t>(capacity), &produced))
    return false;
  if (produced < needed) return false;  // too short to fill the preview
  std::memcpy(pixels, output.data(), needed);
  return true;
}

// The same straight into rows: the input in the same pieces as
// ReadToVector reads it, each inflated as it arrives, and every piece read
// even after the zlib stream ends or fails, so that the stream sees the same
// reads and the answer is InflateBlock's over the whole input.
bool InflatePreviewRows(IStream* stream, std::uint32_t storedSize, std::uint32_t rawSize, std::uint32_t needed,
                        PictureRows& rows) {
  const std::uint64_t capacity = std::min<std::uint64_t>(rawSize, storedSize * kMaxDeflateRatio);
  if (capacity < needed || capacity > kMaxInflateBuffer) return false;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  struct End {
    z_stream* zs;
    ~End() { inflateEnd(zs); }
  } end{&zs};
  std::vector<std::uint8_t> piece;
  std::uint64_t produced = 0;
  enum { kInflating, kEnded, kFailed } state = kInflating;
  for (std::uint32_t done = 0; done < storedSize;) {
    const std::uint32_t size = std::min(storedSize - done, kReadPiece);
    piece.resize(size);
    if (ReadFully(stream, piece.data(), size) < size) return false;
    done += size;
    zs.next_in = piece.data();
    zs.avail_in = size;
    // Until the piece is used up with nothing left to write, or the stream
    // ends; one byte past the capacity shows a stream too long for it.
    while (state == kInflating) {
      std::size_t room = 0;
      unsigned char* space = rows.Space(&room);
      const auto out = static_cast<uInt>(std::min<std::uint64_t>({room, capacity - produced + 1, 1u << 30}));
      zs.next_out = space;
      zs.avail_out = out;
      const int result = inflate(&zs, Z_NO_FLUSH);
      rows.Wrote(out - zs.avail_out);
      produced += out - zs.avail_out;
      if (produced > capacity || (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)) {
        state = kFailed;
      } else if (result == Z_STREAM_END) {
        state = kEnded;
      } else if (result == Z_BUF_ERROR || (zs.avail_in == 0 && zs.avail_out != 0)) {
        break;  // more input wanted
      }
    }
  }
  return state == kEnded && produced >= needed;
}

// Where the preview goes: the image's pixels, or with rows offered the
// rows where they take a compressed block's, else the image sized only once
// its block is found.
struct PreviewTarget {
  lumo::CImage32& image;
  PictureRows* rows;
  std::int32_t width;
  std::int32_t height;
  std::uint8_t* pixels;  // with no rows offered: the image's, locked
};

// Walks the blocks until the first one named `bin` whose compression is known
// and copies its first `needed` bytes into the target. Every round takes a
// 132-byte header from the stream, so the walk ends with the stream.
bool ScanBlocks(IStream* stream, const std::string& bin, PreviewTarget& target, std::uint32_t needed) {
  std::uint8_t header[kBlockHeaderSize];
  for (;;) {
    if (ReadFully(stream, header, sizeof(header)) < sizeof(header)) return false;
    if (std::memcmp(header, kBlockMagic, sizeof(kBlockMagic)) != 0) return false;
    const std::uint32_t compression = Load32(header + kCompressionOffset);
    const std::uint32_t storedSize = Load32(header + kStoredSizeOffset);
    const std::uint32_t rawSize = Load32(header + kRawSizeOffset);
    if (NameMatches(header, bin)) {
      if (rawSize == 0) return false;
      if (compression == kCompressionZlib && target.rows != nullptr && target.rows->Begin(target.width, target.height)) {
        if (!InflatePreviewRows(stream, storedSize, rawSize, needed, *target.rows)) return false;
        target.rows->Finish();
        return true;
      }
      // Stored blocks are read whole: in pieces the stream would see other
      // reads.
      if ((compression == kCompressionStored || compression == kCompressionZlib) && target.pixels != nullptr) {
        if (compression == kCompressionStored)
          return rawSize >= needed && CopyStoredPreview(stream, rawSize, target.pixels, needed);
        return CopyZlibPreview(stream, storedSize, rawSize, target.pixels, needed);
      }
      if (compression == kCompressionStored || compression == kCompressionZlib) {
        lumo::CImage32& image = target.image;
        if (!image.Resize(target.width, target.height) || image.m_width != target.width ||
            image.m_height != target.height)
          return false;
        lumo::ImageLock lock(&image);
        if (image.m_pixels == nullptr) return false;
        auto* pixels = reinterpret_cast<std::uint8_t*>(image.m_pixels);
        if (compression == kCompressionStored)
          return rawSize >= needed && CopyStoredPreview(stream, rawSize, pixels, needed);
        return CopyZlibPreview(stream, storedSize, rawSize, pixels, needed);
      }
      // An unknown compression is passed over like any other block.
    }
    LARGE_INTEGER move;
    move.QuadPart = storedSize;
    stream->Seek(move, STREAM_SEEK_CUR, nullptr);  // a failed skip shows up as a bad next header
  }
}

bool ReadPreview(lumo::CImage32& image, IStream* stream, PictureRows* rows) {
  std::uint8_t magic[kMagicSize];
  if (ReadFully(stream, magic, sizeof(magic)) < sizeof(magic)) return false;
  if (std::memcmp(magic, kMagic, sizeof(magic)) != 0) return false;
  std::uint8_t words[kHeaderWordsSize];
  if (ReadFully(stream, words, sizeof(words)) < sizeof(words)) return false;
  const std::uint32_t xmlLength = Load32(words + kXmlLengthOffset);
  if (xmlLength >= kMaxXmlLength) {
    image.Resize(kPlaceholderSide, kPlaceholderSide);
    image.FillChecker(image.m_width, image.m_height, lumo::kWhite, lumo::kCheckerGrey);
    return false;
  }

  std::vector<std::uint8_t> xml;
  if (!ReadToVector(stream, xmlLength, xml)) return false;
  // The parser steps over a UTF-8 sequence by the length its lead byte
  // announces, so a lead byte at the end of the text jumps up to three bytes
  // past the terminator: zeros there stop it. The buffer is trimmed to fit so
  // that nothing but zeros lies within reach.
  xml.resize(xml.size() + kXmlPadding, 0);
  xml.shrink_to_fit();
  if (XmlNestingBound(reinterpret_cast<const char*>(xml.data()), xml.size()) > kMaxXmlNesting) return false;
  PreviewInfo preview;
  if (!FindPreview(reinterpret_cast<const char*>(xml.data()), preview)) return false;
  std::vector<std::uint8_t>().swap(xml);
  if (preview.width < 1 || preview.width > kMaxPreviewSide || preview.height < 1 || preview.height > kMaxPreviewSide) return false;

  // Without storage of the full size there is nowhere to copy to. With rows
  // offered, the image is sized when its block is found, unless the rows
  // take that block.
  const auto needed = static_cast<std::uint32_t>(preview.width) * static_cast<std::uint32_t>(preview.height) * 4u;
  PreviewTarget target{image, rows, preview.width, preview.height, nullptr};
  if (rows != nullptr) return ScanBlocks(stream, preview.bin, target, needed);
  if (!image.Resize(preview.width, preview.height) || image.m_width != preview.width || image.m_height != preview.height)
    return false;
  lumo::ImageLock lock(&image);
  if (image.m_pixels == nullptr) return false;
  target.pixels = reinterpret_cast<std::uint8_t*>(image.m_pixels);
  return ScanBlocks(stream, preview.bin, target, needed);
}

bool ReadDocument(lumo::CImage32& image, IStream* stream, PictureRows* rows) {
  if (stream == nullptr) return false;
  try {
    return ReadPreview(image, stream, rows);
  } catch (const std::bad_alloc&) {
    return false;  // memory exhaustion means no preview; a bad number still propagates
  }
}

}  // namespace

bool ReadPackedDocument(lumo::CImage32& image, IStream* stream) { return ReadDocument(image, stream, nullptr); }

bool ReadPackedDocument(lumo::CImage32& image, IStream* stream, PictureRows& rows) {
  return ReadDocument(image, stream, &rows);
}
