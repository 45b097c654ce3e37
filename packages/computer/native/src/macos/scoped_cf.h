// One owner per CoreFoundation object: a scoped holder that releases what
// it holds on every path. It takes references that the Create and Copy
// rules hand over; `retain` makes one from a reference got under the Get
// rule. Objective-C objects are ARC's and never go in here.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace kestrum::computer::macos {

template <class Ref>
class ScopedCF {
 public:
  ScopedCF() = default;
  explicit ScopedCF(Ref owned) : ref_(owned) {}
  ~ScopedCF() { reset(); }

  ScopedCF(const ScopedCF&) = delete;
  ScopedCF& operator=(const ScopedCF&) = delete;
  ScopedCF(ScopedCF&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  ScopedCF& operator=(ScopedCF&& other) noexcept {
    reset(std::exchange(other.ref_, nullptr));
    return *this;
  }

  // Takes a reference of its own to an object it does not own yet.
  static ScopedCF retain(Ref borrowed) {
    if (borrowed) CFRetain(borrowed);
    return ScopedCF(borrowed);
  }

  Ref get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

  void reset(Ref owned = nullptr) {
    if (ref_) CFRelease(ref_);
    ref_ = owned;
  }

  // For a Copy-rule out parameter: drops what is held, and the call stores
  // the new reference straight into the holder.
  Ref* receive() {
    reset();
    return &ref_;
  }

 private:
  Ref ref_ = nullptr;
};

}  // namespace kestrum::computer::macos
