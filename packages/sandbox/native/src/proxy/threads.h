// Threads with a chosen stack size that may own move-only work (streams).
// The proxy runs one or two threads per connection with no limit on
// connections, and its threads need little stack (8 KiB copy buffers, the
// resolver), so the default 8 MiB reservation per thread would waste address
// space under load.
#pragma once

#include <pthread.h>

#include <memory>
#include <utility>

namespace kestrum::sandbox {

// Enough for the resolver and the sanitizer builds' larger frames.
inline constexpr std::size_t kProxyThreadStack = 512 * 1024;

namespace detail {

struct Work {
  virtual ~Work() = default;
  virtual void run() = 0;
};

template <class F>
struct WorkOf final : Work {
  explicit WorkOf(F&& f) : function(std::move(f)) {}
  void run() override { function(); }
  F function;
};

// Starts `work` on a new thread; when that fails the work is destroyed
// without running.
bool start_thread(pthread_t& thread, std::unique_ptr<Work> work, bool detached);

}  // namespace detail

// Runs `work` on a new detached thread. False when the thread could not be
// started; `work` has then not run and what it owned is released.
template <class F>
bool spawn_detached(F work) {
  pthread_t thread;
  return detail::start_thread(thread, std::make_unique<detail::WorkOf<F>>(std::move(work)), true);
}

// A thread that is joined when this object ends.
class JoinedThread {
 public:
  template <class F>
  explicit JoinedThread(F work)
      : started_(detail::start_thread(thread_, std::make_unique<detail::WorkOf<F>>(std::move(work)),
                                      false)) {}
  ~JoinedThread() {
    if (started_) pthread_join(thread_, nullptr);
  }
  JoinedThread(const JoinedThread&) = delete;
  JoinedThread& operator=(const JoinedThread&) = delete;
  bool started() const { return started_; }

 private:
  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace kestrum::sandbox
