#include "png_text.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace kezthumb {
namespace {

// No text chunk of a thumbnail comes near this; larger ones are refused
// before anything is allocated for them.
// Bounds on what a foreign entry can make us hold: one chunk (a Thumb::URI
// of the longest path, escaped, is about 12 KiB) and the count of chunks
// kept (real entries carry about ten text keys).
constexpr png_alloc_size_t kMaxChunkBytes = 64u << 10;
constexpr png_uint_32 kMaxKeptChunks = 32;

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}  // a foreign file's flaws are not the user's business

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The libpng calls; plain C data only between setjmp and a possible longjmp.
// Returns the count of text chunks in *text (libpng's memory), or -1.
int ReadText(png_structp png, png_infop info, std::FILE* file, png_textp* text) {
  if (setjmp(png_jmpbuf(png))) return -1;
  png_init_io(png, file);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, kMaxKeptChunks);
  // libpng only warns about a chunk above the limit, and reads it all the
  // same; as errors, such flaws make the entry unreadable, and it is made again.
  png_set_benign_errors(png, 0);
  png_read_info(png, info);
  return png_get_text(png, info, text, nullptr);
}

}  // namespace

std::map<std::string, std::string> ReadPngText(const std::filesystem::path& path) {
  std::map<std::string, std::string> result;
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return result;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  png_textp text = nullptr;
  const int count = info != nullptr ? ReadText(png, info, file.get(), &text) : -1;
  for (int i = 0; i < count; ++i)
    if (text[i].key != nullptr && text[i].text != nullptr) result.emplace(text[i].key, text[i].text);
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

}  // namespace kezthumb
