// A call when a thread ends, for per-thread state that must be handed back
// (the block pools' chunks).
#pragma once

namespace platform {

// Arranges callback(data) for when the calling thread ends, once per thread.
// On Windows it runs neither at process exit (the other threads are gone by
// then, perhaps holding locks) nor when a fiber ends. `data` must not live in
// thread-local storage: a runtime may have freed that by then. Where the
// module can be unloaded while threads live on (a DLL), the callback also runs
// for each of them, on the unloading thread. False when it cannot be arranged.
bool CallAtThreadExit(void (*callback)(void*), void* data);

}  // namespace platform
