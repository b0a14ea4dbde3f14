#include "server_notices.h"
#include "platform/testing.h"

namespace kezthumb {

void SilenceServerNotices() { platform::testing::EchoNotices(false); }
void ForgetServerNotices() { platform::testing::ResetNotices(); }

}  // namespace kezthumb
