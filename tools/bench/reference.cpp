// zma-bench-ref: the floor that the driver's design allows, for zma-bench to
// measure beside it. The same ticks as the driver with nothing behind them:
// three 1 ms timers in the main thread (the driver's call cycle, serial and
// log ticks, of the same timer types) and a 16 ms precise timer in a thread
// of its own that makes the exchange the driver must make on the board (the
// block to the SPI peer through the board library, waiting for its answer)
// and sends the answer as one 512-byte datagram to 127.0.0.1:20002.
// ZQ_BOARD_SPI names the peer, as for the driver. Runs until it is killed.

#include "libzq-board-korvel-20203.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The port may be given: a second copy runs beside the driver, for CPU.
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : quint16(20002);

    // What a driver tick does when there is nothing to do: look and go.
    quint64 ticks = 0;
    QTimer cycle, serial, log;
    serial.setTimerType(Qt::PreciseTimer);
    log.setTimerType(Qt::PreciseTimer);
    for (QTimer* t : {&cycle, &serial, &log}) {
        QObject::connect(t, &QTimer::timeout, [&ticks] { ++ticks; });
        t->start(1);
    }

    // As the driver does before its audio thread starts.
    board_lib_init();
    board_gpio_init();
    board_spi_init();

    QThread audio;
    audio.setObjectName(QStringLiteral("audio"));
    auto* tick = new QTimer();
    tick->setTimerType(Qt::PreciseTimer);
    tick->setInterval(16);
    auto* socket = new QUdpSocket();
    // The shield's idle block goes out, as from a driver with no parent audio.
    QByteArray tx = QByteArray::fromHex("FF7F").repeated(256);
    QByteArray rx(512, char(0));
    QObject::connect(tick, &QTimer::timeout, socket, [socket, tx, rx, port]() mutable {
        board_spi_set_cs(0);
        board_spi_transfer(reinterpret_cast<uint8_t*>(tx.data()), reinterpret_cast<uint8_t*>(rx.data()),
                           uint16_t(rx.size()));
        board_spi_set_cs(1);
        socket->writeDatagram(rx, QHostAddress(QHostAddress::LocalHost), port);
    });
    tick->moveToThread(&audio);
    socket->moveToThread(&audio);
    QObject::connect(&audio, &QThread::started, tick, QOverload<>::of(&QTimer::start));
    audio.start();

    return app.exec();
}
