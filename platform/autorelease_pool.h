// A scope at whose end what the system frameworks autoreleased inside it is
// released. On Apple the frameworks autorelease inside calls the agent makes,
// and a thread with no pool of its own would keep those objects for good;
// elsewhere there is nothing to release.
#pragma once

#if defined(__APPLE__)
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);
#endif

namespace platform {

class AutoreleasePool {
 public:
#if defined(__APPLE__)
  AutoreleasePool() : pool_(objc_autoreleasePoolPush()) {}
  ~AutoreleasePool() { objc_autoreleasePoolPop(pool_); }
#else
  AutoreleasePool() {}
  ~AutoreleasePool() {}
#endif
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

 private:
#if defined(__APPLE__)
  void* pool_;
#endif
};

}  // namespace platform
