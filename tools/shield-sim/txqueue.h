#ifndef SHIELD_SIM_TXQUEUE_H
#define SHIELD_SIM_TXQUEUE_H

// The shield's bytes on their way to the driver: each leaves at its due
// time but never before what was queued earlier, and prints its tx line as
// it goes.

#include <QElapsedTimer>
#include <QTimer>

namespace rig {
class ShieldPty;
}

class TxQueue : public QObject
{
public:
    explicit TxQueue(rig::ShieldPty& line, QObject* parent = nullptr);

    // name ends the tx line: the code's name, or "raw". With delayMs 0 and
    // nothing waiting the bytes leave before this returns.
    void send(const QByteArray& bytes, const QByteArray& name, int delayMs);

private:
    void sendDue();

    struct Pending {
        qint64 due;
        QByteArray bytes;
        QByteArray name;
    };

    rig::ShieldPty& line;
    QElapsedTimer clock;
    QList<Pending> queue;
    QTimer timer;
};

#endif
