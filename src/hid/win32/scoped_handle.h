#pragma once

#include <windows.h>

#include <utility>

namespace kt::win32 {

// Owns one system object and releases it exactly once. Traits give the invalid value(s) and the release.
template <typename Traits>
class Scoped {
 public:
  using Type = typename Traits::Type;

  Scoped() = default;
  explicit Scoped(Type value) : value_(value) {}
  ~Scoped() { reset(); }
  Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::kNone)) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::kNone));
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

  Type get() const { return value_; }
  bool valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return valid(); }
  void reset(Type value = Traits::kNone) {
    if (Traits::IsValid(value_)) Traits::Release(value_);
    value_ = value;
  }

 private:
  Type value_ = Traits::kNone;
};

// A kernel handle: device, event. Both 0 and INVALID_HANDLE_VALUE mean "none", as the system hands out
// either depending on the call.
struct KernelHandleTraits {
  using Type = HANDLE;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Release(Type h) { CloseHandle(h); }
};
using ScopedHandle = Scoped<KernelHandleTraits>;

}  // namespace kt::win32
