#ifndef SHIELD_SIM_WAVFILE_H
#define SHIELD_SIM_WAVFILE_H

// WAV files of the audio line's format: 16 kHz, 16-bit signed LE, mono.

#include <QString>
#include <QVector>

class WavFile
{
public:
    // The 44-byte header of a file with dataBytes of samples.
    static QByteArray header(quint32 dataBytes);
    // All samples of the file; any other format is an error.
    static bool load(const QString& name, QVector<qint16>* samples, QString* error);
};

#endif
