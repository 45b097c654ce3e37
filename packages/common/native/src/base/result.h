// Errors as values: a Result holds either a value or an error (a message by
// default). Only entry points turn an error into output and an exit status.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace kestrum {

// Wraps an error so that Result's constructors cannot confuse it with a value
// of the same type (Result<std::string> is common).
template <class E>
struct Failed {
  E error;
};

inline Failed<std::string> fail(std::string message) { return {std::move(message)}; }

template <class E>
Failed<E> fail_with(E error) {
  return {std::move(error)};
}

template <class T, class E = std::string>
class [[nodiscard]] Result {
 public:
  Result(T value)
      : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  template <class F>
  Result(Failed<F> failed) : state_(std::in_place_index<1>, std::move(failed.error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Reading the side a Result does not hold is a bug in the caller: caught by
  // the assertion in debug builds, never a thrown exception.
  T& value() & {
    assert(ok());
    return *std::get_if<0>(&state_);
  }
  const T& value() const& {
    assert(ok());
    return *std::get_if<0>(&state_);
  }
  T&& value() && {
    assert(ok());
    return std::move(*std::get_if<0>(&state_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const {
    assert(!ok());
    return *std::get_if<1>(&state_);
  }
  E&& take_error() {
    assert(!ok());
    return std::move(*std::get_if<1>(&state_));
  }

 private:
  std::variant<T, E> state_;
};

// The value-less form: success, or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class F>
  Result(Failed<F> failed) : error_(std::move(failed.error)), failed_(true) {}  // NOLINT

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const E& error() const {
    assert(failed_);
    return error_;
  }
  E&& take_error() {
    assert(failed_);
    return std::move(error_);
  }

 private:
  E error_{};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace kestrum
