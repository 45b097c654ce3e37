#include "proxy/threads.h"

namespace kestrum::sandbox {
namespace detail {
namespace {

void* run_work(void* raw) {
  std::unique_ptr<Work> work(static_cast<Work*>(raw));
  work->run();
  return nullptr;
}

}  // namespace

bool start_thread(pthread_t& thread, std::unique_ptr<Work> work, bool detached) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setstacksize(&attributes, kProxyThreadStack);
  if (detached) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  const bool ok = pthread_create(&thread, &attributes, run_work, work.get()) == 0;
  if (ok) work.release();  // the new thread owns it now
  pthread_attr_destroy(&attributes);
  return ok;
}

}  // namespace detail

bool Workers::hand_over(std::unique_ptr<detail::Work> work) {
  {
    std::unique_lock lock(mutex_);
    // Only as much work waits as there are threads waiting for it, so none
    // is left behind by a thread that is about to give up.
    if (static_cast<std::size_t>(idle_) > waiting_work_.size()) {
      waiting_work_.push_back(std::move(work));
      lock.unlock();
      // Outside the lock, so the woken thread does not at once block on it.
      handed_.notify_one();
      return true;
    }
  }
  return spawn_detached([self = shared_from_this(), first = std::move(work)]() mutable {
    self->serve(std::move(first));
  });
}

void Workers::serve(std::unique_ptr<detail::Work> work) {
  while (true) {
    work->run();
    work.reset();
    std::unique_lock lock(mutex_);
    if (idle_ >= max_idle_) return;
    ++idle_;
    const bool handed = handed_.wait_for(lock, linger_, [this] { return !waiting_work_.empty(); });
    --idle_;
    if (!handed) return;
    work = std::move(waiting_work_.front());
    waiting_work_.pop_front();
  }
}

void JoinedWork::State::finish() {
  const std::lock_guard lock(mutex);
  done = true;
  done_changed.notify_all();
}

void JoinedWork::State::wait() {
  std::unique_lock lock(mutex);
  done_changed.wait(lock, [this] { return done; });
}

}  // namespace kestrum::sandbox
