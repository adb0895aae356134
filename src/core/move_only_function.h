// MoveOnlyFunction: a callable that owns a move-only target, such as a
// lambda holding a file or a reader. It stands in for
// std::move_only_function, which not every standard library we build with
// has (libc++ lacks it), so that the same code builds with either.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace ferolin {

template <typename Signature>
class MoveOnlyFunction;

template <typename R, typename... Args>
class MoveOnlyFunction<R(Args...)> {
 public:
  MoveOnlyFunction() noexcept = default;
  MoveOnlyFunction(std::nullptr_t) noexcept {}  // NOLINT: implicit, as in the standard

  // Takes `target` over (moved or copied in); it is called with Args and
  // its result converts to R.
  template <typename F>
    requires(!std::same_as<std::remove_cvref_t<F>, MoveOnlyFunction> &&
             std::is_invocable_r_v<R, std::decay_t<F>&, Args...>)
  MoveOnlyFunction(F&& target)  // NOLINT: implicit, as in the standard
      : target_(std::make_unique<Holder<std::decay_t<F>>>(std::forward<F>(target))) {}

  MoveOnlyFunction(MoveOnlyFunction&&) noexcept = default;
  MoveOnlyFunction& operator=(MoveOnlyFunction&&) noexcept = default;

  // Returns the target's result; the function must not be empty.
  R operator()(Args... args) { return target_->call(std::forward<Args>(args)...); }

  // Returns true when there is a target to call.
  explicit operator bool() const noexcept { return target_ != nullptr; }

 private:
  struct Target {
    virtual ~Target() = default;
    virtual R call(Args&&... args) = 0;
  };
  template <typename F>
  struct Holder final : Target {
    explicit Holder(auto&& target) : f(std::forward<decltype(target)>(target)) {}
    R call(Args&&... args) override { return std::invoke_r<R>(f, std::forward<Args>(args)...); }
    F f;
  };

  std::unique_ptr<Target> target_;
};

}  // namespace ferolin
