// For tests: how many threads of this process are ours (the main thread and the device readers).
#pragma once

namespace zrv::test {

// Threads that keep the program's own name. Qt names the threads it starts for itself (its pool's
// come and go on their own schedule); threads started without a name, the readers among them,
// keep the program's. Counted through /proc; -1 where there is none.
int ThreadCount();

}  // namespace zrv::test
