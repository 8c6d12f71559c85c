#include "controlcommands.h"

#include "audiopeer.h"
#include "shield.h"
#include "simio.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

void ControlCommands::run(const QString& rawLine)
{
    auto usage = [](const char* form) { printError(QStringLiteral("usage: %1").arg(QLatin1String(form))); };
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    const QStringList t = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString& word = t.at(0);
    const int args = t.size() - 1;
    qint64 a = 0;
    qint64 b = 0;
    if (word == QLatin1String("ring")) {
        if (args != 1 || !parseNumber(t.at(1), 0, 255, &a))
            usage("ring N (N 0..255)");
        else if (!busy(word))
            shield.ring(static_cast<uint8_t>(a));
    } else if (word == QLatin1String("ring-gate")) {
        if (args != 2 || !parseNumber(t.at(1), 0, 255, &a) || !parseNumber(t.at(2), 0, 255, &b))
            usage("ring-gate PREFIX SUFFIX (each 0..255)");
        else if (!busy(word))
            shield.ringGate(static_cast<uint8_t>(a), static_cast<uint8_t>(b));
    } else if (word == QLatin1String("raw")) {
        const QString hex = t.mid(1).join(QString());
        static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
        if (!hexDigits.match(hex).hasMatch())
            usage("raw HEX (whole bytes, spaces allowed)");
        else
            shield.sendRaw(QByteArray::fromHex(hex.toLatin1()));
    } else if (word == QLatin1String("silent")) {
        if (args != 1 || (t.at(1) != QLatin1String("on") && t.at(1) != QLatin1String("off")))
            usage("silent on|off");
        else
            shield.setSilent(t.at(1) == QLatin1String("on"));
    } else if (args == 0 && word == QLatin1String("hangup")) {
        shield.hangup();
    } else if (args == 0 && word == QLatin1String("state")) {
        printLine(shield.stateLine());
    } else if (args == 0 && word == QLatin1String("stats")) {
        printLine("spi blocks " + QByteArray::number(audio ? audio->blockCount() : 0));
    } else if (args == 0 && word == QLatin1String("quit")) {
        QCoreApplication::quit();
    } else {
        printError(QStringLiteral("unknown command: %1 (see --help)").arg(line));
    }
}

// A ring needs an idle line; says so if not.
bool ControlCommands::busy(const QString& word) const
{
    if (shield.isIdle())
        return false;
    printError(QStringLiteral("%1: line busy (%2)").arg(word, QString::fromLatin1(shield.stateLine())));
    return true;
}
