#include "zma/settings.h"
#include "console/console.h"

namespace {
constexpr int kDriverMajor = 2;
constexpr int kDriverMinor = 17;
constexpr int kDriverBeta = 2;
constexpr uint8_t kSupportedIntercom = 102;
constexpr uint8_t kDefaultIntercom = 10;
}

Settings::Settings() = default;

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
    set_intercom(get_intercom_from_list_arg(options));
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
    lines << QStringLiteral("#ZMA_Driver_KorvelTesk_v%1.%2.%3").arg(1).arg(0).arg(10)
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
