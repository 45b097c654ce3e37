// Errors as values: a Result holds either a value or an error (a message by
// default). Only entry points turn an error into output and an exit status.
#pragma once

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

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const { return std::get<1>(state_); }
  E&& take_error() { return std::get<1>(std::move(state_)); }

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
  const E& error() const { return error_; }
  E&& take_error() { return std::move(error_); }

 private:
  E error_{};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace kestrum
