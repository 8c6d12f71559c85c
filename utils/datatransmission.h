#ifndef DATATRANSMISSION_H
#define DATATRANSMISSION_H

#include <QByteArray>
#include <QMutex>
#include <QQueue>

// Mutex-guarded FIFO of whole byte arrays: the hand-over between threads and
// timer slots. One set_data is one get_data; entries are never merged or split.
class DataTransmission
{
public:
    DataTransmission() = default;
    DataTransmission(const DataTransmission&) = delete;
    DataTransmission& operator=(const DataTransmission&) = delete;

    void set_data(QByteArray array);
    // Appends like set_data, then drops the oldest entries beyond maxEntries;
    // returns how many were dropped.
    int set_data_bounded(QByteArray array, int maxEntries);
    bool detect_data();
    // Empty mailbox: returns an empty array and leaves dataForRead alone.
    QByteArray get_data();
    void clear();
    int size();

    QByteArray dataForRead;

private:
    QQueue<QByteArray> buffer;
    QMutex mutex;
};

#endif
