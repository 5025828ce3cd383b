#pragma once
// A stereo peak limiter for the built-in synth's output. Below its knee (-3 dBFS) it leaves the
// sound alone; above it a soft curve bends the level towards the ceiling (-0.3 dBFS), which no
// sample ever reaches. The gain falls at once when a louder peak comes (no sample passes
// unlimited) and recovers over about 100 ms, so a loud chord is held down smoothly instead of
// being clipped. Both channels share one gain, so the stereo image stays where it is.

class OutputLimiter {
public:
    static constexpr double kKneeDbfs = -3.0;
    static constexpr double kCeilingDbfs = -0.3;
    static constexpr double kReleaseSeconds = 0.1;

    explicit OutputLimiter(double sampleRate = 48000);

    // Limits `frames` frames in place; `stride` is the distance between two frames of one
    // channel (1 for separate channel buffers, 2 for interleaved ones).
    void Process(float* left, float* right, int frames, int stride = 1);
    void Reset() { m_gain = 1.0; }

    // The level the static curve makes of a peak level, both linear.
    static double Curve(double peak);

private:
    double m_releaseStep;
    double m_gain = 1.0;
};
