#ifndef DATATRANSMISSION_H
#define DATATRANSMISSION_H

#include <QByteArray>
#include <QQueue>
#include <mutex>

// Mutex-guarded FIFO of whole byte arrays: the hand-over between threads and
// timer slots. One set_data is one get_data; entries are never merged or split.
class DataTransmission
{
public:
    DataTransmission() = default;
    DataTransmission(const DataTransmission&) = delete;
    DataTransmission& operator=(const DataTransmission&) = delete;

    void set_data(QByteArray array);
    // Appends like set_data, then drops the oldest entries while there are
    // more than maxEntries or they hold more than maxBytes (the new entry
    // itself is kept); returns how many entries were dropped and adds their
    // bytes to *droppedBytes when given.
    int set_data_bounded(QByteArray array, int maxEntries, qint64 maxBytes = -1,
                         qint64* droppedBytes = nullptr);
    bool detect_data();
    // Empty mailbox: returns an empty array and leaves dataForRead alone.
    QByteArray get_data();
    // Returns how many entries it dropped.
    int clear();
    int size();
    qint64 bytes();

    QByteArray dataForRead;

private:
    QQueue<QByteArray> buffer;
    qint64 heldBytes = 0;
    // A standard mutex, so thread checkers see the guard.
    std::mutex mutex;
};

#endif
