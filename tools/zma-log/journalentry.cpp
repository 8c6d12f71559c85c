#include "journalentry.h"

#include <syslog.h>

namespace {
bool startsWithWord(const QByteArray& text, const char* word)
{
    const QByteArray w(word);
    if (!text.startsWith(w))
        return false;
    return text.size() == w.size() || text.at(w.size()) == ':' || text.at(w.size()) == ' ';
}
}

int JournalEntry::priority(const LogDecoder::Shown& shown)
{
    if (shown.level == "ERROR")
        return LOG_ERR;
    const QByteArray message = shown.message.startsWith('#') ? shown.message.mid(1) : shown.message;
    if (startsWithWord(message, "ERROR"))
        return LOG_ERR;
    if (startsWithWord(message, "WARNING"))
        return LOG_WARNING;
    if (shown.category.startsWith("Uart "))
        return LOG_DEBUG;
    return LOG_INFO;
}

QList<QByteArray> JournalEntry::fields(const LogDecoder::Entry& entry)
{
    const LogDecoder::Shown& shown = entry.shown;
    QByteArray message = shown.rest.startsWith(' ') ? shown.rest.mid(1) : shown.rest;
    while (message.endsWith('\n'))
        message.chop(1);
    QList<QByteArray> out{"MESSAGE=" + message, "PRIORITY=" + QByteArray::number(priority(shown)),
                          "SYSLOG_IDENTIFIER=zma-driver"};
    if (!shown.category.isEmpty())
        out << "ZMA_SOURCE=" + shown.category << "ZMA_LEVEL=" + shown.level;
    if (!entry.clock.isEmpty())
        out << "ZMA_CLOCK=" + entry.clock;
    return out;
}
