// One-pole smoothing for parameters that would click or zipper if they jumped.
// It snaps to the target once close, so it never crawls into denormal range.
#pragma once

#include <cmath>

namespace PomaroDemo {

class Smoother
{
public:
    // timeConstant in seconds at `rate` updates per second.
    void setup(double rate, double timeConstant)
    {
        coef_ = static_cast<float>(1.0 - std::exp(-1.0 / (rate * timeConstant)));
    }
    void setTarget(float target) { target_ = target; }
    void jump(float value) { target_ = current_ = value; }
    float target() const { return target_; }
    float current() const { return current_; }
    bool settled() const { return current_ == target_; }

    float next()
    {
        const float diff = target_ - current_;
        if (std::fabs(diff) < 1e-6f)
            current_ = target_;
        else
            current_ += diff * coef_;
        return current_;
    }

private:
    float coef_ = 1.0f;
    float target_ = 0.0f;
    float current_ = 0.0f;
};

} // namespace PomaroDemo
