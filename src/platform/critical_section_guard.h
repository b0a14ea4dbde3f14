// Holds a critical section for a scope.
#pragma once

#include "platform/kernel.h"

namespace platform {

class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CriticalSectionGuard() { LeaveCriticalSection(&m_cs); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

}  // namespace platform
