#pragma once

namespace halvik {

// Marks the calling thread as background work, so the window's thread wins the processor
// whenever both want it. Threads the caller starts afterwards inherit it. Best effort; a thread
// cannot be raised again without privileges, so call it only on threads kept for such work.
void lowerCurrentThreadPriority();

} // namespace halvik
