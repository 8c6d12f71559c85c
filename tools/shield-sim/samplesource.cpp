#include "samplesource.h"

#include "simio.h"

#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;

} // namespace

SampleSource::SampleSource(double toneHz, int amplitude) : toneHz(toneHz), amplitude(amplitude)
{
}

void SampleSource::setSamples(const QVector<qint16>& samples)
{
    wavSamples = samples;
    wavPos = 0;
}

qint16 SampleSource::next()
{
    if (!wavSamples.isEmpty()) {
        const qint16 s = wavSamples.at(wavPos);
        wavPos = (wavPos + 1) % wavSamples.size();
        return s;
    }
    // The phase runs on across blocks, so the tone has no clicks.
    const double s = amplitude * std::sin(phase);
    phase += kTwoPi * toneHz / kSampleRate;
    if (phase >= kTwoPi)
        phase -= kTwoPi;
    return static_cast<qint16>(std::lround(s));
}
