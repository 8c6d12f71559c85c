#ifndef SHIELD_SIM_SAMPLESOURCE_H
#define SHIELD_SIM_SAMPLESOURCE_H

// The line audio the shield sends: the samples of --wav-in, looped, or else
// a test tone.

#include <QVector>

class SampleSource
{
public:
    SampleSource(double toneHz, int amplitude);

    // Loop these instead of the tone; not empty.
    void setSamples(const QVector<qint16>& samples);
    qint16 next();

private:
    double toneHz;
    int amplitude;
    double phase = 0.0;
    QVector<qint16> wavSamples;
    int wavPos = 0;
};

#endif
