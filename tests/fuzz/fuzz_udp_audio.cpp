// The parent's audio datagrams, of any size, through the UDP intake that
// joins them into one stream and cuts it into blocks for the shield, while
// the audio clock takes blocks out at its own pace.
//
// The intake reads its own socket and has no entry for a datagram's bytes,
// so each datagram really goes over loopback to a port of its own (ephemeral)
// and the test then calls the intake's read slot, as readyRead would.
//
// Input: operations. A datagram: its size (two bytes, below 32 KiB) and up to
// eight bytes from the input, repeated and mixed with their position in the
// stream so that every block tells where it was cut. Or the audio clock
// taking up to 11 blocks. Checked beyond "no crash": every block taken is
// exactly 512 bytes, is the next block of what was accepted or a newer one
// when the oldest were dropped, and at most 10 wait; a datagram is refused
// only when the bytes held would pass the bound, so what is held never does,
// or when its size is odd, so the blocks stay on word boundaries.

#include "fuzzprocess.h"
#include "sound/sound.h"
#include "udp/udpread.h"

#include <QCoreApplication>
#include <QUdpSocket>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sender = -1;

void require(bool ok, const char* what)
{
    if (ok)
        return;
    fprintf(stderr, "fuzz_udp_audio: property failed: %s\n", what);
    abort();
}

uint8_t mix(qint64 position)
{
    return uint8_t((uint64_t(position) * 0x9E3779B97F4A7C15ull) >> 56);
}

// Untraced: comparisons in a byte loop over 32 KiB would take most of the
// fuzzer's time and tell it nothing about the intake.
__attribute__((no_sanitize("coverage"))) void fill(char* out, int length, const uint8_t* pattern, qint64 position)
{
    for (int i = 0; i < length; ++i)
        out[i] = char(pattern[i % 8] ^ mix(position + i));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startProcess("fuzz_udp_audio", false);
    sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    require(sender >= 0, "no UDP socket for sending");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Sound sound;
    UDPread* intake = new UDPread(nullptr, 0, &sound);
    QUdpSocket* socket = intake->findChild<QUdpSocket*>();
    require(socket && socket->state() == QAbstractSocket::BoundState, "intake not bound");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(socket->localPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    QByteArray accepted; // every byte the intake took, in order
    qint64 sent = 0;
    size_t pos = 0;
    auto byte = [&] { return pos < size ? data[pos++] : uint8_t(0); };

    auto takeBlocks = [&](int n) {
        for (; n > 0; --n) {
            const int waiting = sound.dataToShieldBuffer.size();
            const QByteArray block = sound.dataToShieldBuffer.get_data();
            if (waiting == 0) {
                require(block.isEmpty(), "a block came out of an empty queue");
                return;
            }
            require(block.size() == AUDIO_BLOCK_BYTES, "block is not 512 bytes");
            // The queue holds the newest cut blocks; all that is whole is cut.
            const qint64 index = accepted.size() / AUDIO_BLOCK_BYTES - waiting;
            require(index >= 0 && block == accepted.mid(int(index * AUDIO_BLOCK_BYTES), AUDIO_BLOCK_BYTES),
                    "block is not the oldest waiting block of the accepted stream");
        }
    };
    auto sendDatagram = [&](int length) {
        uint8_t pattern[8] = {};
        const int patternSize = length < 8 ? length : 8;
        for (int i = 0; i < patternSize; ++i)
            pattern[i] = byte();
        QByteArray datagram(length, Qt::Uninitialized);
        fill(datagram.data(), length, pattern, sent);
        sent += length;
        require(::sendto(sender, datagram.constData(), size_t(length), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == length,
                "loopback send failed");
        pollfd pfd{int(socket->socketDescriptor()), POLLIN, 0};
        require(::poll(&pfd, 1, 5000) == 1, "datagram did not arrive over loopback");

        const int held = accepted.size() % AUDIO_BLOCK_BYTES;
        intake->writeBufUDP();
        require(!socket->hasPendingDatagrams(), "datagram left unread");
        if (held + length <= UDPread::kMaxHeldBytes && length % 2 == 0)
            accepted.append(datagram);
        require(sound.dataToShieldBuffer.size() <= UDPread::kMaxQueuedBlocks, "more blocks waiting than the bound");
        require(sound.dataToShieldBuffer.bytes() == qint64(sound.dataToShieldBuffer.size()) * AUDIO_BLOCK_BYTES,
                "queued bytes are not whole blocks");
    };

    while (pos < size) {
        const uint8_t op = byte();
        if (op & 0x80) {
            takeBlocks(op % 12);
        } else {
            const int length = op << 8 | byte();
            sendDatagram(length);
        }
    }
    // A datagram that completes the last block, then everything out: every
    // accepted byte has been compared.
    sendDatagram(int((AUDIO_BLOCK_BYTES - accepted.size() % AUDIO_BLOCK_BYTES) % AUDIO_BLOCK_BYTES));
    takeBlocks(UDPread::kMaxQueuedBlocks + 1);
    require(sound.dataToShieldBuffer.size() == 0, "blocks left after taking them all");

    delete intake;
    return 0;
}
