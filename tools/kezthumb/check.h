// `kezthumb --check [DOCUMENT]` (Windows): what stands between Explorer and
// the thumbnails of ".kez" documents, one finding a line on stdout.
#pragma once

#include <string>

namespace kezthumb {

// Prints the report; 0 when nothing stands in the way, 1 when something
// does or cannot be told. `document` may be empty.
int RunCheck(const std::string& document);

}  // namespace kezthumb
