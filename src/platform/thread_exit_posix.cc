#include "platform/thread_exit.h"

namespace platform {
namespace {

struct ExitCall {
  void (*callback)(void*) = nullptr;
  void* data = nullptr;
  ~ExitCall() {
    if (callback != nullptr) callback(data);
  }
};

thread_local ExitCall t_exitCall;

}  // namespace

bool CallAtThreadExit(void (*callback)(void*), void* data) {
  t_exitCall.callback = callback;
  t_exitCall.data = data;
  return true;
}

}  // namespace platform
