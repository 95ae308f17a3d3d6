// small_stack.h: runs part of a test on a thread with a small stack, where a
// call must fit whatever its input.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace mervalt::test {

// 256 KiB normally. AddressSanitizer's frames are several times larger, so
// sanitized builds get more room: there the tests check that recursion stays
// bounded, and the release build checks the real budget.
#if defined(__SANITIZE_ADDRESS__)
#define MERVALT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MERVALT_TEST_ASAN 1
#endif
#endif
#ifdef MERVALT_TEST_ASAN
inline constexpr std::size_t kSmallStack = 8 * 1024 * 1024;
#else
inline constexpr std::size_t kSmallStack = 256 * 1024;
#endif

// Runs `fn` to completion on a new thread with `stackBytes` of stack; false
// when the thread cannot be started.
inline bool runOnSmallStack(const std::function<void()>& fn, std::size_t stackBytes = kSmallStack) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  int rc = pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&fn));
  pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  pthread_join(thread, nullptr);
  return true;
}

}  // namespace mervalt::test
