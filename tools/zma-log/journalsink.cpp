#include "journalsink.h"

#include "journalentry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
// Else every entry names this file and line as where it was logged.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <vector>

namespace {
// libsystemd's socket. Without it sd_journal_sendv drops the entry and still
// says it was sent, so its absence is seen here.
const char* const kJournalSocket = "/run/systemd/journal/socket";
}

void JournalSink::send(QVector<LogDecoder::Entry>* entries)
{
    if (entries->isEmpty())
        return;
    struct stat st = {};
    const int missing = ::stat(kJournalSocket, &st) == 0 && S_ISSOCK(st.st_mode) ? 0 : ENOENT;
    std::vector<iovec> iov;
    for (const LogDecoder::Entry& entry : *entries) {
        const QList<QByteArray> fields = JournalEntry::fields(entry);
        iov.clear();
        for (const QByteArray& f : fields)
            iov.push_back({const_cast<char*>(f.constData()), static_cast<size_t>(f.size())});
        const int rc = missing ? -missing : sd_journal_sendv(iov.data(), static_cast<int>(iov.size()));
        if (rc >= 0) {
            ++taken;
            if (failing)
                fprintf(stderr, "zma-log: the journal takes lines again\n");
            failing = false;
            continue;
        }
        ++lost;
        if (!failing)
            fprintf(stderr,
                    "zma-log: the journal does not take the lines (%s%s): is systemd-journald running? "
                    "zma-log goes on trying; the lines it refuses are lost\n",
                    missing ? "no " : "", missing ? kJournalSocket : strerror(-rc));
        failing = true;
    }
    entries->clear();
}
