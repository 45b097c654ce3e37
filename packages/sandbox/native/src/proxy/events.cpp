#include "proxy/events.h"

#include "base/io.h"
#include "json/writer.h"

namespace kestrum::sandbox {

void EventChannel::write_line(std::string_view line) {
  std::lock_guard<std::mutex> held(lock_);
  (void)write_all(fd_.get(), line);
}

std::string network_event(bool allowed, std::string_view host) {
  json::Object event;
  event["allowed"] = allowed;
  event["host"] = std::string(host);
  event["type"] = "network";
  return json::to_json(json::Value(std::move(event))) + "\n";
}

std::string open_url_event(std::string_view url) {
  json::Object event;
  event["type"] = "openUrl";
  event["url"] = std::string(url);
  return json::to_json(json::Value(std::move(event))) + "\n";
}

}  // namespace kestrum::sandbox
