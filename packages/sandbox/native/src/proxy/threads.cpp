#include "proxy/threads.h"

namespace kestrum::sandbox::detail {
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

}  // namespace kestrum::sandbox::detail
