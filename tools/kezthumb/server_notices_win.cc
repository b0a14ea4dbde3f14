#include "server_notices.h"

namespace kezthumb {

// On Windows the notice is the reader's message box, part of the server's
// contract; the tool leaves it alone.
void SilenceServerNotices() {}
void ForgetServerNotices() {}

}  // namespace kezthumb
