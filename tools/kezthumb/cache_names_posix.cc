#include "cache.h"

#include <glib.h>

namespace kezthumb {
namespace {

// Takes a string GLib allocated; empty for null.
std::string Adopt(gchar* text) {
  if (text == nullptr) return {};
  std::string copy(text);
  g_free(text);
  return copy;
}

}  // namespace

// The functions the file managers name their entries with, so both sides
// agree by construction.
std::string FileUri(const std::string& absolutePath) {
  return Adopt(g_filename_to_uri(absolutePath.c_str(), nullptr, nullptr));
}

std::string CacheFileName(const std::string& uri) {
  return Adopt(g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.c_str(), static_cast<gssize>(uri.size()))) + ".png";
}

}  // namespace kezthumb
