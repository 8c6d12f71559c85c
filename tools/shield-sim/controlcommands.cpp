#include "controlcommands.h"

#include "audiopeer.h"
#include "shield.h"
#include "simio.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void ControlCommands::start()
{
    note = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(note, &QSocketNotifier::activated, this, [this] { readInput(); });
}

void ControlCommands::readInput()
{
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n > 0)
        pending.append(buf, static_cast<int>(n));
    else if (!pending.isEmpty())
        pending.append('\n'); // the end closes a last line without one
    int nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
        const QByteArray bytes = pending.left(nl);
        pending.remove(0, nl + 1);
        run(QString::fromUtf8(bytes));
    }
    if (n > 0)
        return;
    if (!stay) {
        QCoreApplication::quit();
        return;
    }
    delete note;
    note = nullptr;
    // A FIFO opened anew waits for its next writer, so "echo cmd > fifo"
    // keeps working after the first writer has gone.
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
        const int fd = ::open("/proc/self/fd/0", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            ::dup2(fd, STDIN_FILENO);
            ::close(fd);
            start();
        }
    }
}

void ControlCommands::run(const QString& rawLine)
{
    auto usage = [](const char* form) { printError(QStringLiteral("usage: %1").arg(QLatin1String(form))); };
    // A ring needs an idle line; says so if not.
    auto busy = [this](const QString& word) {
        if (!shield.isIdle())
            printError(QStringLiteral("%1: line busy (%2)").arg(word, QString::fromLatin1(shield.stateLine())));
        return !shield.isIdle();
    };
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
        say(shield.stateLine());
    } else if (args == 0 && word == QLatin1String("stats")) {
        say("spi blocks " + QByteArray::number(audio ? audio->blockCount() : 0));
    } else if (args == 0 && word == QLatin1String("quit")) {
        QCoreApplication::quit();
    } else {
        printError(QStringLiteral("unknown command: %1 (see --help)").arg(line));
    }
}
