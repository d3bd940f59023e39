// Shared by the micro-benchmarks, each a single-file program that includes this
// header once: an allocation counter (to show hot loops allocate nothing) and a
// wall-clock helper.
#pragma once

#include <chrono>
#include <cstdlib>
#include <new>

namespace bench {

inline long long allocations = 0;  // operator new calls so far

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace bench

void* operator new(std::size_t n) {
  ++bench::allocations;
  void* p = std::malloc(n ? n : 1);
  if (!p) std::abort();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
