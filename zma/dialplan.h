#ifndef DIALPLAN_H
#define DIALPLAN_H

#include <QByteArray>
#include <QSet>
#include <cstdint>
#include <mutex>

// Decodes dialled numbers and holds the virtual and blocked apartment sets.
// The console thread refills the sets while the main thread looks numbers up.
class DialPlan
{
public:
    enum NumberList { ImitList, BlackList };

    static uint32_t calcDial(const QByteArray* data);
    static uint32_t calcDialGatesMode(const QByteArray* data);
    static uint16_t combinePrefixSuffix(uint16_t prefix, uint16_t suffix);

    bool isBlockPhone(uint32_t dial) const;
    bool isImitPhone(uint32_t dial) const;

    void clearList(NumberList list);
    void insert(NumberList list, unsigned int number);
    QSet<unsigned int> numbers(NumberList list) const;

private:
    QSet<unsigned int> readImitPhone;
    QSet<unsigned int> readBlackPhone;
    mutable std::mutex mutex;
};

#endif
