#include "audiopeer.h"

#include "options.h"
#include "simio.h"
#include "wavfile.h"

#include <QtEndian>

#include <cmath>

void AudioPeer::stop()
{
    peer.reset();
    recorder.close();
}

bool AudioPeer::start(QString* error)
{
    if (!opts.wavIn.isEmpty() && !WavFile::load(opts.wavIn, &wavSamples, error))
        return false;
    if (!opts.record.isEmpty() && !recorder.open(opts.record, error))
        return false;
    rig::SpiPeer::Hooks hooks;
    hooks.keep = 0;
    hooks.answer = [this](const QByteArray& block) {
        QByteArray samples(block.size(), '\0');
        for (int i = 0; i + 1 < samples.size(); i += 2)
            qToLittleEndian<qint16>(nextSample(), samples.data() + i);
        return samples;
    };
    hooks.received = [this](const QByteArray& block) {
        // Idle words are the driver's "no audio", not sound: as samples they
        // would be a full-scale level across every pause of the parent.
        if (!opts.recordRaw && rig::SpiPeer::isIdle(block)) {
            recorder.append(QByteArray(block.size(), '\0'));
            ++silenced;
        } else {
            recorder.append(block);
        }
        ++recorded;
        if (opts.verbose && ++blocks % 1000 == 0)
            postLine("spi blocks " + QByteArray::number(blocks));
    };
    hooks.connection = [](bool up) { postLine(up ? "spi connected" : "spi disconnected"); };
    peer = std::make_unique<rig::SpiPeer>(opts.spi, rig::SpiPeer::Answering, std::move(hooks));
    *error = peer->error();
    return error->isEmpty();
}

qint16 AudioPeer::nextSample()
{
    if (!wavSamples.isEmpty()) {
        const qint16 s = wavSamples.at(wavPos);
        wavPos = (wavPos + 1) % wavSamples.size();
        return s;
    }
    // The phase runs on across blocks, so the tone has no clicks.
    constexpr double kTwoPi = 6.283185307179586;
    const double s = opts.amplitude * std::sin(phase);
    phase += kTwoPi * opts.toneHz / kSampleRate;
    if (phase >= kTwoPi)
        phase -= kTwoPi;
    return static_cast<qint16>(std::lround(s));
}
