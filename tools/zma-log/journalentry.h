#ifndef JOURNALENTRY_H
#define JOURNALENTRY_H

// A line zma-log shows, as the journal entry it becomes with --journal:
//   MESSAGE            the line as zma-log prints it after the time (English
//                      beside the Russian, the decoded frames on lines below)
//   PRIORITY           priority(), below
//   SYSLOG_IDENTIFIER  zma-driver, so that `journalctl -t zma-driver` finds it
//   ZMA_SOURCE         the driver's category: main, Controller, Uart WRITE...
//   ZMA_LEVEL          Debug or ERROR, as the driver logged it
//   ZMA_CLOCK          the driver's own stamp, hh:mm:ss.zzz
// The last three only where the line has them. Sending is JournalSink's.

#include "logdecoder.h"

#include <QByteArray>
#include <QList>

class JournalEntry
{
public:
    // syslog's: LOG_ERR for an ERROR line or a message that starts with the
    // word ERROR (ERROR:, ERROR CMD, the console's #ERROR:), LOG_WARNING for
    // one that starts with WARNING; LOG_DEBUG for the serial bytes (Uart
    // WRITE, Uart READ), the bulk of the log; LOG_INFO for the rest.
    static int priority(const LogDecoder::Shown& shown);
    // Each "NAME=value"; a value may hold line ends.
    static QList<QByteArray> fields(const LogDecoder::Entry& entry);
};

#endif
