#include "udp/udpread.h"
#include "log/diagnostics.h"
#include "sound/sound.h"

#include <QDebug>
#include <QHostAddress>
#include <QUdpSocket>

UDPread::UDPread(QObject* parent, uint16_t port, Sound* sound)
    : QObject(parent)
{
    this->port = port;
    this->sound = sound;
    udpSocketClient = new QUdpSocket(this);
    connect(udpSocketClient, SIGNAL(readyRead()), this, SLOT(writeBufUDP()), Qt::AutoConnection);
    bindTimer = new QTimer(this);
    bindTimer->setInterval(1000);
    connect(bindTimer, SIGNAL(timeout()), this, SLOT(slotBind()), Qt::DirectConnection);
    slotBind();
}

void UDPread::slotBind()
{
    // Not shared: with a second socket on the port the parent's audio would
    // go to one of the two, unseen.
    if (udpSocketClient->bind(QHostAddress(QHostAddress::LocalHost), port, QUdpSocket::DontShareAddress)) {
        bindTimer->stop();
        if (bindFailed)
            qDebug().noquote() << QStringLiteral("UDP audio: 127.0.0.1:%1 bound, the parent's audio is taken again").arg(port);
        bindFailed = false;
        return;
    }
    if (!bindFailed)
        qDebug().noquote() << QStringLiteral("ERROR: UDP audio: cannot bind 127.0.0.1:%1: %2; trying again every second")
                                  .arg(port).arg(udpSocketClient->errorString());
    bindFailed = true;
    bindTimer->start();
}

UDPread::~UDPread()
{
    udpSocketClient->abort();
    {
        std::lock_guard<std::mutex> lock(mutexBufferUDP);
        dataBufferUDP.clear();
    }
    sound->dataToShieldBuffer.clear();
}

void UDPread::writeBufUDP()
{
    while (udpSocketClient->hasPendingDatagrams()) {
        const qint64 size = udpSocketClient->pendingDatagramSize();
        if (dataBufferUDP.size() + qMax<qint64>(size, 0) > kMaxHeldBytes) {
            // Rate-limited with a count by the diagnostics output.
            Diagnostics::reportLogged("main", "ERROR: Переполнение буффера более чем в 10 раз!",
                                      oversizeLine(size, dataBufferUDP.size()));
            udpSocketClient->readDatagram(nullptr, 0);
            return;
        }
        if (size % 2 != 0) {
            // Half a word would shift every later block by a byte, and the
            // rest of the call would be noise: refused whole. Said by the
            // audio counts' report in this thread, at most once a second.
            udpSocketClient->readDatagram(nullptr, 0);
            sound->stats.lastOddBytes = size;
            ++sound->stats.oddRefused;
            continue;
        }
        QByteArray datagram(static_cast<int>(qMax<qint64>(size, 0)), Qt::Uninitialized);
        const qint64 got = udpSocketClient->readDatagram(datagram.data(), datagram.size());
        if (got < 0)
            break; // readyRead comes again for what is left
        datagram.resize(static_cast<int>(got));

        std::lock_guard<std::mutex> lock(mutexBufferUDP);
        dataBufferUDP.append(datagram);
        while (dataBufferUDP.size() >= AUDIO_BLOCK_BYTES) {
            // Reported with the other audio counts, once a second at most.
            sound->stats.boundDropped += sound->dataToShieldBuffer.set_data_bounded(
                dataBufferUDP.left(AUDIO_BLOCK_BYTES), kMaxQueuedBlocks);
            dataBufferUDP.remove(0, AUDIO_BLOCK_BYTES);
        }
    }
}

QByteArray UDPread::oversizeLine(qint64 size, int held)
{
    const QString with = held > 0 ? QStringLiteral(" with the %1 held").arg(held) : QString();
    return QStringLiteral("ERROR: UDP audio: a %1-byte datagram refused, more than the %2 bytes that may wait%3: "
                          "send at most %2 bytes, best %4")
        .arg(size)
        .arg(kMaxHeldBytes)
        .arg(with)
        .arg(AUDIO_BLOCK_BYTES)
        .toUtf8();
}
