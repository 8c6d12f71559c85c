#ifndef SHIELD_SIM_WAVRECORDER_H
#define SHIELD_SIM_WAVRECORDER_H

// Keeps what the driver sends on the audio line as a WAV file (--record).
// Used by the audio thread; errors after open() go to the main thread.

#include <QString>

class WavRecorder
{
public:
    // Creates the file with an empty WAV header. A header that could not be
    // written leaves the file open: close() still finishes it.
    bool open(const QString& path, QString* error);
    void append(const QByteArray& bytes);
    // Completes the sizes and closes; nothing if not open.
    void close();

private:
    void updateSizes();
    void failed();

    QString path;
    int fd = -1;
    quint64 recordedBytes = 0;
    bool errorTold = false;
};

#endif
