// Benchmarks that report heap allocations per operation link this: it replaces the global
// operator new/delete of the whole program with ones that count.
#pragma once

#include <cstddef>

namespace zrv::bench {

// Heap allocations made by the program so far, on every thread.
std::size_t HeapAllocations();

}  // namespace zrv::bench
