#include "zma/dialplan.h"

namespace {
uint8_t byteAt(const QByteArray* data, int i)
{
    return i < data->size() ? static_cast<uint8_t>(data->at(i)) : 0;
}
}

uint32_t DialPlan::calcDial(const QByteArray* data)
{
    return static_cast<uint8_t>(byteAt(data, 0) | byteAt(data, 1));
}

uint32_t DialPlan::calcDialGatesMode(const QByteArray* data)
{
    const uint8_t prefix = byteAt(data, 2) | byteAt(data, 3);
    const uint8_t suffix = byteAt(data, 0) | byteAt(data, 1);
    return combinePrefixSuffix(prefix, suffix);
}

uint16_t DialPlan::combinePrefixSuffix(uint16_t prefix, uint16_t suffix)
{
    uint32_t multiplier = 1;
    for (uint32_t temp = suffix; temp != 0; temp /= 10)
        multiplier *= 10;
    return static_cast<uint16_t>(prefix * multiplier + suffix);
}

bool DialPlan::isBlockPhone(uint32_t dial) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return readBlackPhone.contains(dial);
}

bool DialPlan::isImitPhone(uint32_t dial) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return readImitPhone.contains(dial);
}

void DialPlan::clearList(NumberList list)
{
    std::lock_guard<std::mutex> lock(mutex);
    (list == ImitList ? readImitPhone : readBlackPhone).clear();
}

void DialPlan::insert(NumberList list, unsigned int number)
{
    std::lock_guard<std::mutex> lock(mutex);
    (list == ImitList ? readImitPhone : readBlackPhone).insert(number);
}

QSet<unsigned int> DialPlan::numbers(NumberList list) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return list == ImitList ? readImitPhone : readBlackPhone;
}
