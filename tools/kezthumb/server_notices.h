// The ".kez" reader announces a damaged document with an error notice; the
// tool reports that in its own one-line reason instead, so the notice is kept
// off the terminal where the platform allows.
#pragma once

namespace kezthumb {

// Stops echoing the notices (once, at start).
void SilenceServerNotices();
// Drops the notices recorded so far, so a long run does not collect them.
void ForgetServerNotices();

}  // namespace kezthumb
