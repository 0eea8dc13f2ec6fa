// The one-time initialisation that the statically linked GCC runtime asks
// for (its unwinder registers the library's frame tables when it is loaded
// and unregisters them when it is unloaded). The link sends the runtime's
// pthread_once calls here instead of to winpthreads, whose pthread_once
// makes a record of the calling thread: a copy of its handle, an event and a
// thread-local slot, which are never given back when the library is
// unloaded. A setup that loads the library for each call would lose them
// on every load. This one needs no record.
#if defined(__MINGW32__)

#include <windows.h>

namespace {

enum OnceState : LONG { kNotRun = 0, kRunning = 1, kDone = 2 };

}  // namespace

// pthread_once_t of winpthreads is a long that starts at 0.
extern "C" int __wrap_pthread_once(volatile LONG* once, void (*initialise)(void)) {
    for (;;) {
        const LONG state = InterlockedCompareExchange(once, kRunning, kNotRun);
        if (state == kNotRun) {
            initialise();
            InterlockedExchange(once, kDone);
            return 0;
        }
        if (state == kDone) return 0;
        SwitchToThread();  // another thread runs it: wait for its end
    }
}

#endif
