#pragma once

namespace Corvexis::GL {

// Hands the commands issued so far in the calling thread's current context to the driver (glFlush), so
// that fences and work become visible to other contexts. False, doing nothing, when the thread has no
// current context. Thread-safe (acts on the calling thread's context).
bool flush();

// Blocks until every command of the calling thread's current context has completed (glFinish). False,
// doing nothing, when the thread has no current context. Thread-safe (acts on the calling thread's
// context).
bool finish();

}  // namespace Corvexis::GL
