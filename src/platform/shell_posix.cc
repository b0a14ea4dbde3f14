// Shell change notifications, recorded for tests: nothing else listens here.
#include <mutex>
#include <vector>

#include "platform/shell.h"
#include "platform/testing.h"

namespace {

struct Shell {
  std::mutex mutex;
  std::vector<platform::testing::ChangeNotification> notifications;
};

Shell& State() {
  static Shell* shell = new Shell;
  return *shell;
}

}  // namespace

void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
  Shell& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.notifications.push_back({wEventId, uFlags, dwItem1, dwItem2});
}

namespace platform::testing {

std::vector<ChangeNotification> ChangeNotifications() {
  Shell& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.notifications;
}

void ResetChangeNotifications() {
  Shell& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.notifications.clear();
}

}  // namespace platform::testing
