#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace pointillo {

template <typename Signature> class FunctionRef;

// A callable borrowed for the length of a call: how the core asks its host
// for a service (a parameter value, a source's pixels) without owning, copying
// or allocating anything. The callable must outlive every call through it;
// exceptions pass through unchanged.
template <typename R, typename... Args> class FunctionRef<R(Args...)> {
  public:
    template <typename F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F&, Args...>) FunctionRef(F&& f)
    noexcept // NOLINT(google-explicit-constructor): used like a function
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

} // namespace pointillo
