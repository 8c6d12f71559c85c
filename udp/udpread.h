#ifndef UDPREAD_H
#define UDPREAD_H

#include "sound/audioblock.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <mutex>

class QUdpSocket;
class Sound;

// Receives the parent's audio datagrams, joins them into one stream and cuts
// it into blocks for the shield; a datagram of odd size is refused whole,
// so every block starts on a 16-bit word. Serves in the SPI exchange
// thread, which takes the blocks.
class UDPread : public QObject
{
    Q_OBJECT
public:
    UDPread(QObject* parent, uint16_t port, Sound* sound);
    ~UDPread() override;

    static constexpr int kMaxQueuedBlocks = AUDIO_MAX_QUEUED_BLOCKS;
    static constexpr int kMaxHeldBytes = AUDIO_MAX_QUEUED_BLOCKS * AUDIO_BLOCK_BYTES;

    // What a parent is told of a datagram refused for the bound.
    static QByteArray oversizeLine(qint64 size, int held);

public slots:
    void writeBufUDP();

private slots:
    // Binds the port; while another socket holds it, tried once a second.
    void slotBind();

private:
    QUdpSocket* udpSocketClient;
    std::mutex mutexBufferUDP;
    uint16_t port;
    QByteArray dataBufferUDP;
    Sound* sound;
    QTimer* bindTimer;
    bool bindFailed = false;
};

#endif
