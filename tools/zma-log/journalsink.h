#ifndef JOURNALSINK_H
#define JOURNALSINK_H

// zma-log --journal: each entry to the system journal (libsystemd's
// sd_journal_sendv). A journal that does not take them (no journald
// running) is said once on stderr, and again when it takes them again; the
// lines it refused are counted, and zma-log goes on.

#include "logdecoder.h"

#include <QVector>

class JournalSink
{
public:
    // Sends them in order and empties the vector.
    void send(QVector<LogDecoder::Entry>* entries);
    qint64 sent() const { return taken; }
    qint64 refused() const { return lost; }

private:
    qint64 taken = 0;
    qint64 lost = 0;
    bool failing = false;
};

#endif
