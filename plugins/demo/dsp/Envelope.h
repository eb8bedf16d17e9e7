// Amplitude envelope of one voice: short linear attack, a long exponential
// decay like a struck tine, exponential release, and a fast fade used when a
// voice is taken for another note. Every stage ends below -80 dB at exactly
// zero, so finished voices never leave denormal residue behind.
#pragma once

namespace PomaroDemo {

class Envelope
{
public:
    enum class Stage
    {
        Idle,
        Attack,
        Decay,
        Release,
        Fade
    };

    static constexpr float kFloor = 1e-4f; // -80 dB: here a stage counts as silent

    void start(float attackStep, float decayCoef)
    {
        attackStep_ = attackStep;
        decayCoef_ = decayCoef;
        stage_ = Stage::Attack;
    }
    void release(float releaseCoef)
    {
        releaseCoef_ = releaseCoef;
        if (stage_ == Stage::Attack || stage_ == Stage::Decay)
            stage_ = Stage::Release;
    }
    void setReleaseCoef(float releaseCoef) { releaseCoef_ = releaseCoef; }
    void fade(float fadeCoef)
    {
        fadeCoef_ = fadeCoef;
        if (stage_ != Stage::Idle)
            stage_ = Stage::Fade;
    }
    void reset()
    {
        stage_ = Stage::Idle;
        level_ = 0.0f;
    }

    Stage stage() const { return stage_; }
    bool idle() const { return stage_ == Stage::Idle; }
    float level() const { return level_; }

    float next()
    {
        switch (stage_) {
        case Stage::Idle:
            return 0.0f;
        case Stage::Attack:
            level_ += attackStep_;
            if (level_ >= 1.0f) {
                level_ = 1.0f;
                stage_ = Stage::Decay;
            }
            return level_;
        case Stage::Decay:
            return fall(decayCoef_);
        case Stage::Release:
            return fall(releaseCoef_);
        case Stage::Fade:
            return fall(fadeCoef_);
        }
        return 0.0f;
    }

private:
    float fall(float coef)
    {
        level_ *= coef;
        if (level_ < kFloor)
            reset();
        return level_;
    }

    Stage stage_ = Stage::Idle;
    float level_ = 0.0f;
    float attackStep_ = 1.0f;
    float decayCoef_ = 1.0f;
    float releaseCoef_ = 0.0f;
    float fadeCoef_ = 0.0f;
};

} // namespace PomaroDemo
