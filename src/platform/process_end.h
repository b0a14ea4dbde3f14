// Whether the process is ending, as opposed to a module being unloaded from
// a process that goes on. At process end on Windows the other threads are
// already gone, perhaps holding locks, so teardown that would take those
// locks is skipped: the system reclaims everything anyway.
#pragma once

#include <atomic>

namespace platform {

inline std::atomic<bool> g_processEnding{false};

// Called by the module entry on DLL_PROCESS_DETACH with a non-null reserved
// argument (the process is exiting), before static destructors run.
inline void NoteProcessEnding() { g_processEnding.store(true, std::memory_order_relaxed); }
inline bool ProcessEnding() { return g_processEnding.load(std::memory_order_relaxed); }

}  // namespace platform
