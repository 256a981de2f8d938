#pragma once
// Result<T>: a value or a BundleError, with std::expected's member names. TRY and TRY_ASSIGN pass
// an error up unchanged, so every caller reports exactly what the failing step found.

#include <type_traits>
#include <utility>
#include <variant>

#include "core/error.hpp"

namespace srb {

// Any of BundleError's kinds: `return ManifestMissing{path};` converts straight to a Result.
template <typename K>
concept ErrorKind =
    std::is_constructible_v<BundleError, K> && !std::is_same_v<std::remove_cvref_t<K>, BundleError>;

template <typename T>
class [[nodiscard]] Result {
 public:
  template <typename U = T>
  requires(std::is_convertible_v<U&&, T> && !ErrorKind<std::remove_cvref_t<U>>) Result(U&& value)
      : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  Result(BundleError error) : state_(std::in_place_index<1>, std::move(error)) {}
  template <ErrorKind K>
  Result(K kind) : state_(std::in_place_index<1>, std::move(kind)) {}

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const BundleError& error() const& { return std::get<1>(state_); }
  BundleError&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, BundleError> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(BundleError error) : error_(std::move(error)), failed_(true) {}
  template <ErrorKind K>
  Result(K kind) : error_(std::move(kind)), failed_(true) {}

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  void value() const {}

  const BundleError& error() const& { return error_; }
  BundleError&& error() && { return std::move(error_); }

 private:
  BundleError error_;
  bool failed_ = false;
};

}  // namespace srb

#define SRB_CONCAT_INNER(a, b) a##b
#define SRB_CONCAT(a, b) SRB_CONCAT_INNER(a, b)

// Evaluates a Result-returning expression and returns its error from the enclosing function.
#define TRY(expr)                                                    \
  do {                                                               \
    auto&& srb_try_result_ = (expr);                                 \
    if (!srb_try_result_) return std::move(srb_try_result_).error(); \
  } while (0)

// `TRY_ASSIGN(auto manifest, load_manifest(dir));` declares (or assigns) the value on success.
#define TRY_ASSIGN(var, expr) SRB_TRY_ASSIGN_IMPL(SRB_CONCAT(srb_try_, __LINE__), var, expr)
#define SRB_TRY_ASSIGN_IMPL(tmp, var, expr) \
  auto&& tmp = (expr);                      \
  if (!tmp) return std::move(tmp).error();  \
  var = std::move(*tmp)
