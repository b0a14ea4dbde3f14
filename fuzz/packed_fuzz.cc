// libFuzzer target for the packed layered-image reader. Inputs that start
// with "kelpack" are whole documents read through ReadPackedDocument (the one
// exception it may raise, bad_lexical_cast for a bad number, is expected);
// inputs that start with '<' check that the XML nesting bound never falls
// below the depth the parser really builds; anything else goes to
// InflateBlock with a destination sized from the input.
// The same body replays damaged documents in the test suite
// (tests/formats/packed/fuzz_replay_test.cc).
#include <tinyxml.h>

#include <algorithm>
#include <boost/lexical_cast.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/packed/packed_reader.h"
#include "formats/packed/xml_nesting.h"
#include "lumo/image.h"
#include "fuzz_support.h"
#include "platform/testing.h"
#include "support/test_stream.h"
#include "support/xml_depth.h"

namespace kez::fuzzing {

using kez::testing::ParsedXmlDepth;

inline int PackedFuzzOne(const std::uint8_t* data, std::size_t size) {
  if (size >= 7 && std::memcmp(data, "kelpack", 7) == 0) {
    kez::testing::TestStream stream(std::vector<std::uint8_t>(data, data + size));
    // An odd length also exercises streams that deliver short reads.
    if (size % 2 == 1) stream.maxReadChunk = static_cast<ULONG>(1 + data[size - 1] % 64);
    lumo::CImage32 image;
    try {
      if (ReadPackedDocument(image, &stream)) TouchPixels(image);
    } catch (const boost::bad_lexical_cast&) {
    }
    return 0;
  }
  if (size >= 1 && data[0] == '<') {
    const std::size_t bound = packed::XmlNestingBound(reinterpret_cast<const char*>(data), size);
    if (bound > 1000) return 0;  // the parser itself would recurse too deep
    std::vector<char> text(data, data + size);
    text.insert(text.end(), 8, '\0');  // the reader's padding
    TiXmlDocument document;
    document.Parse(text.data(), nullptr, TIXML_DEFAULT_ENCODING);
    if (ParsedXmlDepth(document) > bound) std::abort();
    return 0;
  }
  // The destination: 1032 bytes per input byte (the most deflate can give),
  // capped at 1 MiB, minus the first byte's worth so short outputs fail too.
  const std::size_t room = std::min<std::size_t>(size * 1032, 1u << 20) - (size != 0 ? data[0] : 0) % 8;
  std::vector<std::uint8_t> out(room + 1);
  std::uint32_t produced = 0;
  InflateBlock(data, static_cast<std::uint32_t>(size), out.data(), static_cast<std::uint32_t>(room), &produced);
  return 0;
}

}  // namespace kez::fuzzing

#ifndef KEZ_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kez::fuzzing::PackedFuzzOne(data, size);
}
#endif
