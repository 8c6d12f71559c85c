// zma-bench-ref: the floors zma-bench measures the driver against, beside it.
//
// The design floor (the default): the same ticks as the driver with nothing
// behind them: three 1 ms timers in the main thread (the driver's call
// cycle, serial and log ticks, of the same timer types) and a 16 ms precise
// timer in a thread of its own that makes the exchange the driver must make
// on the board (the block to the SPI peer through the board library,
// waiting for its answer) and sends the answer as one 512-byte datagram to
// 127.0.0.1:20002.
//
// The physical floor (--physical): only what the board itself asks for:
// the same exchange and send, every 16 ms on an absolute timerfd schedule,
// in a thread with no event loop; the main thread only waits.
//
// ZQ_BOARD_SPI names the peer, as for the driver. Runs until it is killed.

#include "libzq-board-korvel-20203.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr long kPeriodNs = 16000000;

// The shield's idle block goes out, as from a driver with no parent audio.
QByteArray idleBlock()
{
    return QByteArray::fromHex("FF7F").repeated(256);
}

// The exchange one frame of audio costs on the board.
void exchange(QByteArray& tx, QByteArray& rx)
{
    board_spi_set_cs(0);
    board_spi_transfer(reinterpret_cast<uint8_t*>(tx.data()), reinterpret_cast<uint8_t*>(rx.data()),
                       uint16_t(rx.size()));
    board_spi_set_cs(1);
}

int physical(quint16 port)
{
    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (timer < 0 || sock < 0) {
        perror("zma-bench-ref");
        return 1;
    }
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    // Absolute, so a late wake-up does not shift the ones after it.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long long first = now.tv_sec * 1000000000LL + now.tv_nsec + kPeriodNs;
    const itimerspec expiry{{0, kPeriodNs}, {time_t(first / 1000000000), long(first % 1000000000)}};
    if (::timerfd_settime(timer, TFD_TIMER_ABSTIME, &expiry, nullptr) != 0) {
        perror("zma-bench-ref: timerfd_settime");
        return 1;
    }
    std::thread audio([timer, sock, to] {
        pthread_setname_np(pthread_self(), "audio");
        QByteArray tx = idleBlock(), rx(512, char(0));
        for (;;) {
            uint64_t expirations = 0;
            // One exchange a wake-up: one that came late is not made up.
            if (::read(timer, &expirations, sizeof expirations) != sizeof expirations)
                continue;
            exchange(tx, rx);
            (void)::sendto(sock, rx.constData(), size_t(rx.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to);
        }
    });
    audio.join(); // never: the process ends when it is killed
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // [--physical] [port]: a copy runs beside the driver on a port of its own.
    const bool floorOnly = argc > 1 && std::strcmp(argv[1], "--physical") == 0;
    const int portArg = floorOnly ? 2 : 1;
    const quint16 port = argc > portArg ? quint16(QByteArray(argv[portArg]).toUInt()) : quint16(20002);

    // As the driver does before its audio thread starts.
    board_lib_init();
    board_gpio_init();
    board_spi_init();
    if (floorOnly)
        return physical(port);

    QCoreApplication app(argc, argv);
    // What a driver tick does when there is nothing to do: look and go.
    quint64 ticks = 0;
    QTimer cycle, serial, log;
    serial.setTimerType(Qt::PreciseTimer);
    log.setTimerType(Qt::PreciseTimer);
    for (QTimer* t : {&cycle, &serial, &log}) {
        QObject::connect(t, &QTimer::timeout, [&ticks] { ++ticks; });
        t->start(1);
    }

    QThread audio;
    audio.setObjectName(QStringLiteral("audio"));
    auto* tick = new QTimer();
    tick->setTimerType(Qt::PreciseTimer);
    tick->setInterval(16);
    auto* socket = new QUdpSocket();
    QObject::connect(tick, &QTimer::timeout, socket, [socket, tx = idleBlock(), rx = QByteArray(512, char(0)), port]() mutable {
        exchange(tx, rx);
        socket->writeDatagram(rx, QHostAddress(QHostAddress::LocalHost), port);
    });
    tick->moveToThread(&audio);
    socket->moveToThread(&audio);
    QObject::connect(&audio, &QThread::started, tick, QOverload<>::of(&QTimer::start));
    audio.start();

    return app.exec();
}
