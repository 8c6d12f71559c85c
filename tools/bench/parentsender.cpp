#include "parentsender.h"

#include "rig/runenv.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace rig;

namespace {

const char kMark[4] = {'z', 'm', 'a', 'B'};

void sleepUntil(qint64 ns)
{
    const timespec at{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

} // namespace

ParentSender::ParentSender()
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

ParentSender::~ParentSender()
{
    wait();
    if (fd >= 0)
        ::close(fd);
}

QByteArray ParentSender::block(quint32 seq)
{
    QByteArray b(kBlockBytes, char(0));
    for (int i = 8; i < kBlockBytes; ++i)
        b[i] = char(((seq * 31 + quint32(i) * 3) & 0x7E) | (i % 2 ? 0 : 1));
    std::memcpy(b.data(), &seq, sizeof(seq));
    std::memcpy(b.data() + 4, kMark, sizeof(kMark));
    return b;
}

bool ParentSender::numberOf(const QByteArray& block, quint32* seq)
{
    if (block.size() != kBlockBytes || std::memcmp(block.constData() + 4, kMark, sizeof(kMark)) != 0)
        return false;
    std::memcpy(seq, block.constData(), sizeof(*seq));
    return true;
}

void ParentSender::start(std::vector<Send> s, quint32 first)
{
    wait();
    schedule = std::move(s);
    firstSeq = first;
    blocks.clear();
    worker = std::thread([this] { run(); });
}

void ParentSender::wait()
{
    if (worker.joinable())
        worker.join();
}

void ParentSender::run()
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(20003);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    quint32 seq = firstSeq;
    for (const Send& s : schedule) {
        // Made before the sleep, so the send follows the wake-up at once.
        QByteArray datagram;
        for (int i = 0; i < s.blocks; ++i)
            datagram += block(seq + quint32(i));
        sleepUntil(s.atNs);
        const qint64 now = monotonicNs();
        const bool sent = ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == datagram.size();
        for (int i = 0; i < s.blocks; ++i)
            blocks.push_back({seq++, s.atNs, sent ? now : -1});
    }
}
