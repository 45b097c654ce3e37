// Threads with a chosen stack size that may own move-only work (streams).
// The proxy runs one or two threads per connection with no limit on
// connections, and its threads need little stack (16 KiB copy buffers, the
// resolver), so the default 8 MiB reservation per thread would waste address
// space under load.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
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

// Detached threads that wait a while for more work once theirs is done, so
// that a short connection costs no thread creation (creating and ending its
// two threads was about 45% of the proxy's time under short connections).
// At most `max_idle` wait at once, each for at most `linger`; then they end,
// so a burst's threads do not stay. Work handed to the pool keeps it alive.
class Workers : public std::enable_shared_from_this<Workers> {
 public:
  static std::shared_ptr<Workers> make(int max_idle, std::chrono::milliseconds linger) {
    return std::shared_ptr<Workers>(new Workers(max_idle, linger));
  }

  // Runs `work` on a waiting thread, or on a new one. False when no thread
  // could be started; `work` has then not run and what it owned is released.
  template <class F>
  bool run(F work) {
    return hand_over(std::make_unique<detail::WorkOf<F>>(std::move(work)));
  }

 private:
  Workers(int max_idle, std::chrono::milliseconds linger) : max_idle_(max_idle), linger_(linger) {}
  bool hand_over(std::unique_ptr<detail::Work> work);
  // A thread's life: its first work, then whatever it is handed while it
  // waits.
  void serve(std::unique_ptr<detail::Work> work);

  const int max_idle_;
  const std::chrono::milliseconds linger_;
  std::mutex mutex_;
  std::condition_variable handed_;
  std::deque<std::unique_ptr<detail::Work>> waiting_work_;  // never more than idle_
  int idle_ = 0;
};

// Work run by a pool whose end is waited for when this object ends, as a
// joined thread's would be.
class JoinedWork {
 public:
  template <class F>
  JoinedWork(Workers& workers, F work)
      : state_(std::make_shared<State>()),
        started_(workers.run([state = state_, work = std::optional<F>(std::move(work))]() mutable {
          (*work)();
          // What the work owns (streams) is released before the waiter
          // goes on, as it would be when a thread ends.
          work.reset();
          state->finish();
        })) {}
  ~JoinedWork() {
    if (started_) state_->wait();
  }
  JoinedWork(const JoinedWork&) = delete;
  JoinedWork& operator=(const JoinedWork&) = delete;
  bool started() const { return started_; }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
    void finish();
    void wait();
  };
  std::shared_ptr<State> state_;
  bool started_;
};

}  // namespace kestrum::sandbox
