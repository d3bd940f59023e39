// The allocation handler: a failed allocation ends the run with a message.
#include <cstdio>
#include <new>

#include "input/input.h"
#include "test_support.h"

#ifndef __SANITIZE_ADDRESS__
TEST(MemoryHandler, FailedAllocationEndsTheRunWithAMessage) {
  EXPECT_EXIT(
      {
        install_memory_handler();
        void* p = ::operator new(static_cast<std::size_t>(1) << 62);
        std::printf("%p", p);
      },
      ::testing::ExitedWithCode(1), "utils:[0-9]+: not enough memory\n");
}
#endif
