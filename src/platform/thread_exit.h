// A call when a thread ends, for per-thread state that must be handed back
// (the block pools' chunks).
#pragma once

namespace platform {

// Arranges callback(data) for when the calling thread ends; a second call on
// the same thread replaces the first. `data` must not live in thread-local
// storage: a runtime may have freed that by then. Where the module can be
// unloaded while threads live on (a DLL), the callback also runs for each of
// them, on the unloading thread. False when it cannot be arranged.
bool CallAtThreadExit(void (*callback)(void*), void* data);

}  // namespace platform
