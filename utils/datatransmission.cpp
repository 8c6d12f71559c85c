#include "utils/datatransmission.h"

void DataTransmission::set_data(QByteArray array)
{
    QMutexLocker lock(&mutex);
    buffer.enqueue(std::move(array));
}

int DataTransmission::set_data_bounded(QByteArray array, int maxEntries)
{
    QMutexLocker lock(&mutex);
    buffer.enqueue(std::move(array));
    int dropped = 0;
    while (buffer.size() > maxEntries) {
        buffer.dequeue();
        ++dropped;
    }
    return dropped;
}

bool DataTransmission::detect_data()
{
    QMutexLocker lock(&mutex);
    return !buffer.isEmpty();
}

QByteArray DataTransmission::get_data()
{
    QMutexLocker lock(&mutex);
    if (buffer.isEmpty())
        return QByteArray();
    dataForRead = buffer.dequeue();
    return dataForRead;
}

void DataTransmission::clear()
{
    QMutexLocker lock(&mutex);
    buffer.clear();
}

int DataTransmission::size()
{
    QMutexLocker lock(&mutex);
    return buffer.size();
}
