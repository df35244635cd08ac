#pragma once
// Result<T, E>: a value or an error, never an exception. A small stand-in for std::expected,
// which C++20 does not have.

#include <type_traits>
#include <utility>
#include <variant>

namespace ostrel {

template <class E>
struct Unexpected {
  E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

template <class E>
[[nodiscard]] Unexpected<std::decay_t<E>> fail(E&& e) {
  return {std::forward<E>(e)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT
  template <class U>
  Result(Unexpected<U> u) : v_(std::in_place_index<1>, E(std::move(u.error))) {}  // NOLINT

  bool has_value() const { return v_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// Result<void, E>: success or an error.
struct Ok {};

template <class E>
using Status = Result<Ok, E>;

}  // namespace ostrel
