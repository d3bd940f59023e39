// The allocation-failure hook of the test build: linked into Sarvik_hooked,
// it makes operator new fail (std::bad_alloc, as a real shortage does) once the
// memory allocated through it and not yet freed would pass SARVIK_ALLOC_LIMIT
// bytes, on whichever thread asks. Memory of the C library (stdio, thread
// stacks) is not counted.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> in_use{0};

long long limit() {
  static const long long bytes = [] {
    const char* text = std::getenv("SARVIK_ALLOC_LIMIT");
    return text != nullptr ? std::atoll(text) : -1;
  }();
  return bytes;
}

void* take(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  const long long got = static_cast<long long>(malloc_usable_size(p));
  const long long cap = limit();
  if (cap >= 0 && in_use.fetch_add(got) + got > cap) {
    in_use.fetch_sub(got);
    std::free(p);
    throw std::bad_alloc();
  }
  if (cap < 0) in_use.fetch_add(got);
  return p;
}

void give(void* p) {
  if (p == nullptr) return;
  in_use.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return take(size); }
void* operator new[](std::size_t size) { return take(size); }
void operator delete(void* p) noexcept { give(p); }
void operator delete[](void* p) noexcept { give(p); }
void operator delete(void* p, std::size_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t) noexcept { give(p); }
