// Filling the thumbnail cache for every document under some files and
// folders, on several threads.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "document_format.h"
#include "progress.h"

namespace kezthumb {

struct CacheRequest {
  int size = 256;
  int jobs = 1;
  std::vector<std::string> paths;  // files and folders as given
  std::filesystem::path root;      // the thumbnails folder
};

struct CacheOutcome {
  CacheCounts counts;
  bool ioError = false;  // a path, document or cache file could not be read or written
  double seconds = 0;
};

// A document found under the given paths.
struct FoundDocument {
  std::filesystem::path path;  // absolute, lexically normal
  DocumentFormat format = DocumentFormat::kUnknown;
};

// Walks the paths: a file given by name counts when its first bytes name a
// known format (others are reported and counted as failed); folders are
// searched recursively without following folder links, and files of a known
// format are taken, whatever their names. Each document appears once.
std::vector<FoundDocument> FindDocuments(const std::vector<std::string>& paths, Console& console,
                                         CacheOutcome* outcome);

// Finds the documents and brings their cache entries up to date: a thumbnail
// in the size's folder, or a fail marker under fail/kezthumb-<version>/.
CacheOutcome FillCache(const CacheRequest& request, Console& console);

}  // namespace kezthumb
