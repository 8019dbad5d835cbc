// Event handlers as bound callables: a routine together with its receiver, comparable for equality.
// The controller hands a new handler on only to devices whose handler equals the one it stored, so a
// handler needs an identity beyond "some std::function".
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace zrv {

template <class Signature>
class TEvent;

template <class Ret, class... Args>
class TEvent<Ret(Args...)> {
 public:
  // Empty: no handler.
  TEvent() = default;
  TEvent(std::nullptr_t) {}  // NOLINT: "= nullptr" clears a handler

  // A method bound to its receiver. Two such handlers are equal exactly when receiver and method are.
  template <class R>
  TEvent(R* receiver, Ret (R::*method)(Args...))
      : fn_(std::make_shared<const Fn>(
            [receiver, method](Args... args) -> Ret { return (receiver->*method)(args...); })),
        receiver_(receiver) {
    StoreKey(method);
  }
  template <class R>
  TEvent(const R* receiver, Ret (R::*method)(Args...) const)
      : fn_(std::make_shared<const Fn>(
            [receiver, method](Args... args) -> Ret { return (receiver->*method)(args...); })),
        receiver_(receiver) {
    StoreKey(method);
  }

  // Any other callable. It gets an identity of its own: equal only to its own copies.
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                              std::is_invocable_r_v<Ret, F&, Args...>>>
  TEvent(F&& callable)  // NOLINT: implicit, so a lambda can be assigned directly
      : fn_(std::make_shared<const Fn>(std::forward<F>(callable))) {
    const std::uint64_t id = NextId();
    std::memcpy(key_.data(), &id, sizeof id);
  }

  explicit operator bool() const { return fn_ != nullptr; }

  // Calls the handler; it must be set. The callable is kept alive for the call, so a handler may
  // replace the stored copy of itself while it runs.
  Ret operator()(Args... args) const {
    const std::shared_ptr<const Fn> keep = fn_;
    return (*keep)(std::forward<Args>(args)...);
  }

  friend bool operator==(const TEvent& a, const TEvent& b) {
    if (!a.fn_ || !b.fn_) return !a.fn_ && !b.fn_;
    return a.receiver_ == b.receiver_ && a.key_ == b.key_;
  }
  friend bool operator!=(const TEvent& a, const TEvent& b) { return !(a == b); }

  const void* Receiver() const { return receiver_; }

 private:
  using Fn = std::function<Ret(Args...)>;
  static constexpr std::size_t kKeyBytes = 2 * sizeof(void*) + 8;

  template <class M>
  void StoreKey(M method) {
    static_assert(sizeof(M) <= kKeyBytes - 1, "method pointer larger than expected");
    key_[0] = 1;  // method keys start with 1, callable ids (little-endian, low byte 0) with 0
    std::memcpy(key_.data() + 1, &method, sizeof(M));
  }
  static std::uint64_t NextId() {
    static std::atomic<std::uint64_t> next{0};
    return (next.fetch_add(1, std::memory_order_relaxed) + 1) << 8;
  }

  std::shared_ptr<const Fn> fn_;
  const void* receiver_ = nullptr;
  std::array<unsigned char, kKeyBytes> key_{};
};

}  // namespace zrv
