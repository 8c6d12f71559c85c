#include "utils/datatransmission.h"

using Lock = std::lock_guard<std::mutex>;

void DataTransmission::set_data(QByteArray array)
{
    Lock lock(mutex);
    heldBytes += array.size();
    buffer.enqueue(std::move(array));
}

int DataTransmission::set_data_bounded(QByteArray array, int maxEntries, qint64 maxBytes,
                                       qint64* droppedBytes)
{
    Lock lock(mutex);
    heldBytes += array.size();
    buffer.enqueue(std::move(array));
    int dropped = 0;
    while (buffer.size() > 1
           && (buffer.size() > maxEntries || (maxBytes >= 0 && heldBytes > maxBytes))) {
        const int size = buffer.dequeue().size();
        heldBytes -= size;
        if (droppedBytes)
            *droppedBytes += size;
        ++dropped;
    }
    return dropped;
}

bool DataTransmission::detect_data()
{
    Lock lock(mutex);
    return !buffer.isEmpty();
}

QByteArray DataTransmission::get_data()
{
    Lock lock(mutex);
    if (buffer.isEmpty())
        return QByteArray();
    dataForRead = buffer.dequeue();
    heldBytes -= dataForRead.size();
    return dataForRead;
}

int DataTransmission::clear()
{
    Lock lock(mutex);
    const int dropped = buffer.size();
    buffer.clear();
    heldBytes = 0;
    return dropped;
}

int DataTransmission::size()
{
    Lock lock(mutex);
    return buffer.size();
}

qint64 DataTransmission::bytes()
{
    Lock lock(mutex);
    return heldBytes;
}
