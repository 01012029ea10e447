// The one way a test replaces what the product does (CONVENTIONS.md).
//
// A Seam is a process-wide function with the product's own behaviour as its default, reached through an accessor
// of the module that owns it (for instance Utils::ThreadCreation()). A test replaces it for one scope with a
// Seam::Override, which puts the previous function back when it ends. Overrides are made and ended while no
// thread of the product calls the seam: before the object under test starts its workers, and after they ended.
#pragma once

#include <functional>
#include <utility>

namespace Utils {

template <class Signature> class Seam;

template <class R, class... Args> class Seam<R(Args...)> {
public:
    using Function = std::function<R(Args...)>;

    explicit Seam(Function real) : fn_(std::move(real)) {}
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    R operator()(Args... args) const { return fn_(std::forward<Args>(args)...); }

    class [[nodiscard]] Override {
    public:
        Override(Seam& seam, Function replacement)
            : seam_(seam), previous_(std::exchange(seam.fn_, std::move(replacement))) {}
        ~Override() { seam_.fn_ = std::move(previous_); }
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        Seam& seam_;
        Function previous_;
    };

private:
    Function fn_;
};

} // namespace Utils
