// Shareable content known up front as plain lists. The macOS shell wraps the
// system's own object instead, because capturing needs it back; the
// simulated desktop and the tests hand out this one.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "desktop/desktop.h"

namespace kestrum::computer {

class ListedContent final : public ShareableContent {
 public:
  ListedContent(std::vector<std::uint32_t> displays, std::vector<ShareableApplication> apps)
      : displays_(std::move(displays)), apps_(std::move(apps)) {}
  std::vector<std::uint32_t> display_ids() const override { return displays_; }
  std::vector<ShareableApplication> applications() const override { return apps_; }

 private:
  std::vector<std::uint32_t> displays_;
  std::vector<ShareableApplication> apps_;
};

}  // namespace kestrum::computer
