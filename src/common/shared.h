#pragma once
// A small value that more than one thread touches (a busy byte, a switch flag, a step index).
// Loads and stores are atomic; unlike std::atomic it can be copied, so a state group holding
// such values can still be reset with `= {}`.

#include <atomic>

namespace freeplot {

template <class T>
class Shared {
public:
    constexpr Shared(T value = T{}) noexcept : value_(value) {}
    Shared(const Shared& other) noexcept : value_(other.load()) {}
    Shared& operator=(const Shared& other) noexcept {
        if (&other != this) store(other.load());
        return *this;
    }
    Shared& operator=(T value) noexcept {
        store(value);
        return *this;
    }
    operator T() const noexcept { return load(); }

    T load() const noexcept { return value_.load(); }
    void store(T value) noexcept { value_.store(value); }
    // Sets the value and gives the one it replaced: a claim that only one thread can win.
    T exchange(T value) noexcept { return value_.exchange(value); }

private:
    std::atomic<T> value_;
};

}  // namespace freeplot
