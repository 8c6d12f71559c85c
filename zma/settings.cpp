#include "zma/settings.h"
#include "console/console.h"
#include "zma_version.h"

#include <QDebug>

namespace {
constexpr int kDriverMajor = 2;
constexpr int kDriverMinor = 17;
constexpr int kDriverBeta = 2;
constexpr int kRelease[3] = {ZMA_VERSION_MAJOR, ZMA_VERSION_MINOR, ZMA_VERSION_PATCH};
constexpr uint8_t kSupportedIntercom = 102;
constexpr uint8_t kDefaultIntercom = 10;
}

Settings::Settings() = default;

QString Settings::answerBeforeStart(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--version")
            return QStringLiteral("zma-driver %1.%2.%3 (ZMA_STM_Driver %4.%5, beta %6)\n")
                .arg(kRelease[0]).arg(kRelease[1]).arg(kRelease[2])
                .arg(kDriverMajor).arg(kDriverMinor).arg(kDriverBeta);
        if (arg == "--help")
            return QStringLiteral(
                "usage: zma-driver [-ic N] [-v] [-confirm] [-audio-fifo] [-rt-priority N]\n"
                "Drives the intercom adapter's shield: commands on stdin, status lines on\n"
                "stdout until stdin ends; audio as UDP on 127.0.0.1 (the parent's to 20003,\n"
                "the line's to 20002), the log as UDP datagrams to 127.0.0.1:20004.\n"
                "  -ic N        intercom type index (default 10)\n"
                "  -v           print the version lines first\n"
                "  -confirm     print pickup, open 1 or open 2 when the shield confirms them,\n"
                "               open 1 failed or open 2 failed when it never answers a door\n"
                "  -audio-fifo  keep the parent's audio in a plain queue, never trimmed\n"
                "  -rt-priority N  real-time (SCHED_FIFO) priority of the audio thread,\n"
                "               1-99 (default 10); 0 runs it at normal priority\n"
                "  --help, --version  print this or the version and exit\n"
                "The stand-in board library reads ZQ_BOARD_SERIAL (the serial port,\n"
                "default /dev/ttyS1) and ZQ_BOARD_SPI (a simulated shield's SPI socket).\n"
                "See zma-driver(8) and /usr/share/doc/zma-driver/protocol.md.\n");
    }
    return QString();
}

void Settings::parser_param(int argc, char** argv)
{
    QList<QString> options;
    if (argc > 1) {
        for (int i = 0; i < argc; ++i)
            options.append(QString::fromLocal8Bit(argv[i]));
    }
    if (options.contains(QStringLiteral("-v"))) {
        Console::writeLine(QStringLiteral("ZMA_STM_Driver: v%1.%2").arg(kDriverMajor).arg(kDriverMinor));
        Console::writeLine(QStringLiteral("Beta: %1").arg(kDriverBeta));
        Console::writeLine(QStringLiteral("#Not for release!: "));
    }
    confirm = options.contains(QStringLiteral("-confirm"));
    audioFifo = options.contains(QStringLiteral("-audio-fifo"));
    rtPriority = get_rt_priority_from_list_arg(options);
    set_intercom(get_intercom_from_list_arg(options));
}

int Settings::get_rt_priority_from_list_arg(const QList<QString>& options)
{
    const int i = options.indexOf(QStringLiteral("-rt-priority"));
    if (i <= 0)
        return kDefaultRtPriority;
    bool ok = false;
    const int value = i + 1 < options.size() ? options.at(i + 1).toInt(&ok, 10) : 0;
    if (ok && value >= 0 && value <= 99)
        return value;
    qDebug().noquote() << QStringLiteral("ERROR: -rt-priority takes 0 (normal priority) to 99; using %1")
                              .arg(kDefaultRtPriority);
    return kDefaultRtPriority;
}

uint8_t Settings::get_intercom_from_list_arg(QList<QString> options)
{
    const int i = options.indexOf(QStringLiteral("-ic"));
    if (i > 0 && i + 1 < options.size()) {
        bool ok = false;
        const uint value = options.at(i + 1).toUInt(&ok, 10);
        if (ok)
            return static_cast<uint8_t>(value & 0xFF);
    }
    Console::writeLine(QStringLiteral("#WARNING: No intercom select"));
    return kDefaultIntercom;
}

void Settings::set_intercom(uint8_t intercomNumb)
{
    setIntercom = intercomNumb;
    if (intercomNumb == kSupportedIntercom) {
        flagAdrGate = 1;
        Console::writeLine(QStringLiteral("#Intercom %1 supported indexes ").arg(intercomNumb));
    } else {
        flagAdrGate = 0;
        Console::writeLine(QStringLiteral("#Intercom %1 not supported indexes ").arg(intercomNumb));
    }
}

void Settings::send_info_to_console()
{
    QStringList lines;
    lines << QStringLiteral("#ZMA_Driver_KorvelTesk_v%1.%2.%3").arg(kRelease[0]).arg(kRelease[1]).arg(kRelease[2])
          << QStringLiteral("ZMA_STM_Driver 2.17")
          << QString()
          << QStringLiteral("Intercom: %1").arg(setIntercom.load())
          << QStringLiteral("Program_STM: %1").arg(firmware);
    if (beta != 0) {
        lines << QStringLiteral("Beta: %1").arg(beta)
              << QStringLiteral("#WARNING: VORK not for release!");
    }
    lines << QStringLiteral("Shield: %1").arg(version)
          << QStringLiteral("Revision: %1").arg(revision)
          << QStringLiteral("ID: %1%2%3").arg(id[0], 0, 16).arg(id[1], 0, 16).arg(id[2], 0, 16)
          << QString() << QString()
          << QStringLiteral("shield_ready")
          << QString();
    // One block under one lock, so no status line lands inside it.
    Console::writeLine(lines.join('\n'));
}
