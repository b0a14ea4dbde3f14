#include "platform/testing.h"

namespace platform::testing {

void ResetPlatform() {
  ResetRegistry();
  ResetDibCounters();
  ResetNotices();
  EchoNotices(true);
  ResetChangeNotifications();
  OverrideModuleFileName(std::nullopt);
  FailModuleFileName(std::nullopt);
}

}  // namespace platform::testing
