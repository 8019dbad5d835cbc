// For tests: run the calling thread's event loop until a condition holds. Bounded by a number of
// rounds (each processes what is pending, then naps about a millisecond), never by asserting on time.
#pragma once

#include <functional>

namespace zrv::test {

// True as soon as `condition` holds; false when it still does not after `maxRounds` rounds.
// The default bound is generous (well over ten seconds), for slow sanitizer builds.
bool RunUntil(const std::function<bool()>& condition, int maxRounds = 20000);

// Processes pending events for `rounds` rounds (to let things that should NOT happen have a chance).
void RunRounds(int rounds);

}  // namespace zrv::test
