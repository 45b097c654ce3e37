#include "main/serve_start.h"

#include <pthread.h>
#include <unistd.h>

#include <memory>

#include "base/system_error.h"
#include "serve/serve_loop.h"
#include "serve/state.h"
#include "serve/tap.h"

namespace kestrum::computer {
namespace {

// Everything the two threads share; it lives until the process ends, so it
// is never freed.
struct Server {
  Server(Desktop& desktop, const OwnIdentity& own)
      : state(desktop, own, STDOUT_FILENO), tap(state) {}
  ServerState state;
  TapContext tap;
};

void* serve_thread(void* server) { serve_loop(static_cast<Server*>(server)->state); }

// Steps 3 to 6 of the start-up: the tap, its run-loop source on the main
// thread's run loop, and the tap kept for re-enabling.
Status listen_to_person(Desktop& desktop, TapContext& context) {
  std::unique_ptr<EventTap> tap = desktop.create_event_tap(kTapEventMask, context);
  if (!tap) return fail(std::string(kNoTap));
  std::unique_ptr<RunLoopSource> source = tap->create_run_loop_source();
  if (!source) return fail(std::string(kNoRunLoopSource));
  std::unique_ptr<RunLoop> run_loop = desktop.current_run_loop();
  if (!run_loop) return fail(std::string(kNoRunLoop));
  run_loop->add_source(*source);
  context.holder().store(std::move(tap));
  return {};
}

Status start_serve_thread(Server& server) {
  pthread_t thread;
  const int error = ::pthread_create(&thread, nullptr, serve_thread, &server);
  if (error != 0) return fail("could not start the serve loop: " + system_error_text(error));
  ::pthread_detach(thread);
  return {};
}

}  // namespace

Status run_server(Desktop& desktop, const OwnIdentity& own) {
  auto* server = new Server(desktop, own);
  if (auto listening = listen_to_person(desktop, server->tap); !listening) return listening;
  if (auto started = start_serve_thread(*server); !started) return started;
  desktop.run_current_run_loop();
  return {};
}

}  // namespace kestrum::computer
