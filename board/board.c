/* Stand-in for the board support library, for running the driver without
 * the board.
 *
 * ZQ_BOARD_SERIAL  names the serial port (default /dev/ttyS1).
 * ZQ_BOARD_SPI     names a Unix SOCK_SEQPACKET socket where a simulated shield
 *                  listens; each transfer is one message each way, numbered
 *                  (docs/protocol.md). Unset: the SPI line is a loopback
 *                  (rx = tx).
 */
#define _GNU_SOURCE
#include "libzq-board-korvel-20203.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#define SPI_ANSWER_TIMEOUT_MS 10
#define RETRY_INTERVAL_MS 1000
/* Stale messages dropped per transfer at most: a peer that floods must not
 * keep the exchange in the drain loop. */
#define MAX_STALE_DROPPED 1024
/* Each message carries the exchange's number after the block, so an answer
 * that comes too late is known for what it is and never taken for the next
 * exchange's. */
#define SPI_NUMBER_BYTES 4

static int spi_fd = -1;
static int spi_attempted = 0;
static long long last_connect_try_ms = 0;
static long long last_diag_ms = 0;
static int diag_written = 0;
static uint32_t spi_number = 0;
static unsigned long late_unreported = 0;
static char default_port[] = "/dev/ttyS1";

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* At most one line a second, so a missing peer cannot flood stderr. The
 * audio thread calls this, so a stderr nobody reads (a full pipe) must not
 * stop it: the line is skipped unless it can be written at once. Returns
 * whether it was written. */
static int diag_text(const char* path, const char* text)
{
    char line[512];
    struct pollfd pfd;
    long long now = now_ms();
    int n;

    if (diag_written && now - last_diag_ms < 1000)
        return 0;
    diag_written = 1;
    last_diag_ms = now;
    n = snprintf(line, sizeof(line), "board: SPI peer %s: %s\n", path, text);
    if (n <= 0)
        return 0;
    if ((size_t)n >= sizeof(line)) {
        n = (int)sizeof(line) - 1;
        line[n - 1] = '\n';
    }
    pfd.fd = STDERR_FILENO;
    pfd.events = POLLOUT;
    pfd.revents = 0;
    /* Writable pipe: room for at least PIPE_BUF bytes, so one short write
     * does not wait. */
    return poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLOUT) && write(STDERR_FILENO, line, (size_t)n) == n;
}

static void diag(const char* what, const char* path, int err)
{
    char text[256];
    snprintf(text, sizeof(text), "%s (%s)", what, strerror(err));
    (void)diag_text(path, text);
}

/* Late answers are counted until a line about them gets out. */
static void report_late(const char* path)
{
    char text[64];
    if (late_unreported == 0)
        return;
    snprintf(text, sizeof(text), "%lu late answer%s dropped", late_unreported, late_unreported == 1 ? "" : "s");
    if (diag_text(path, text))
        late_unreported = 0;
}

static void spi_close(void)
{
    if (spi_fd >= 0) {
        close(spi_fd);
        spi_fd = -1;
    }
}

static void spi_connect(void)
{
    const char* path = getenv("ZQ_BOARD_SPI");
    struct sockaddr_un addr;
    int fd;

    spi_attempted = 1;
    last_connect_try_ms = now_ms();
    if (!path || !*path)
        return;
    if (strlen(path) >= sizeof(addr.sun_path)) {
        diag("path too long", path, ENAMETOOLONG);
        return;
    }
    fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        diag("no socket", path, errno);
        return;
    }
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path);
    if (connect(fd, (struct sockaddr*)&addr, sizeof(addr)) != 0) {
        diag("cannot connect", path, errno);
        close(fd);
        return;
    }
    spi_fd = fd;
}

/* recv() gives 0 both for an empty message and at end of stream; only a
 * peer that closed (or shut its writing side) also reports a hang-up. */
static int spi_peer_hung_up(void)
{
    struct pollfd pfd;
    pfd.fd = spi_fd;
    pfd.events = POLLRDHUP;
    pfd.revents = 0;
    return poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLHUP | POLLRDHUP | POLLERR));
}

static void fill_idle(uint8_t* rx, uint16_t len)
{
    for (uint16_t i = 0; i < len; i++)
        rx[i] = (i % 2 == 0) ? 0xFF : 0x7F;
}

void board_lib_init(void) {}

void board_gpio_init(void) {}

void board_spi_init(void)
{
    spi_close();
    spi_connect();
}

char* board_usart_get_port(void)
{
    char* port = getenv("ZQ_BOARD_SERIAL");
    return (port && *port) ? port : default_port;
}

void board_spi_set_cs(uint8_t level)
{
    (void)level;
}

static void put_number(uint8_t* at, uint32_t v)
{
    for (int i = 0; i < SPI_NUMBER_BYTES; i++)
        at[i] = (uint8_t)(v >> (8 * i));
}

static uint32_t get_number(const uint8_t* at)
{
    uint32_t v = 0;
    for (int i = 0; i < SPI_NUMBER_BYTES; i++)
        v |= (uint32_t)at[i] << (8 * i);
    return v;
}

enum answer_kind { ANSWER_OURS, ANSWER_LATE, ANSWER_WRONG };

/* A block with this exchange's number is ours, with another number a late
 * one. A bare block comes from a peer that does not number: it is taken as
 * it comes. */
static enum answer_kind answer_kind(const uint8_t* msg, ssize_t n, uint16_t len)
{
    if (n == (ssize_t)len)
        return ANSWER_OURS;
    if (n != (ssize_t)len + SPI_NUMBER_BYTES)
        return ANSWER_WRONG;
    return get_number(msg + len) == spi_number ? ANSWER_OURS : ANSWER_LATE;
}

static void spi_exchange(const char* path, uint8_t* tx, uint8_t* rx, uint16_t len)
{
    /* One byte more than the longest answer, so a longer message shows. */
    uint8_t scratch[65535 + SPI_NUMBER_BYTES + 1];
    uint8_t number[SPI_NUMBER_BYTES];
    struct iovec iov[2];
    struct msghdr msg;
    struct pollfd pfd;
    long long deadline;
    ssize_t sent;

    if (spi_fd < 0 && (!spi_attempted || now_ms() - last_connect_try_ms >= RETRY_INTERVAL_MS))
        spi_connect();
    if (spi_fd < 0) {
        fill_idle(rx, len);
        return;
    }

    deadline = now_ms() + SPI_ANSWER_TIMEOUT_MS;

    /* Whatever waits now answers an earlier exchange: dropped, and counted
     * when it is an answer. Empty messages are dropped too; a closed peer
     * ends the loop. */
    for (int i = 0; i < MAX_STALE_DROPPED; i++) {
        ssize_t n = recv(spi_fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (n > 0 && answer_kind(scratch, n, len) != ANSWER_WRONG)
            late_unreported++;
        if (n > 0 || (n == 0 && !spi_peer_hung_up()))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        diag("peer closed", path, n == 0 ? ECONNRESET : errno);
        spi_close();
        fill_idle(rx, len);
        return;
    }

    spi_number++;
    put_number(number, spi_number);
    iov[0].iov_base = tx;
    iov[0].iov_len = len;
    iov[1].iov_base = number;
    iov[1].iov_len = sizeof(number);
    memset(&msg, 0, sizeof(msg));
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    /* Never waits for room: a peer that stopped reading is not gone, it just
     * gets no block this time and we get no answer. */
    sent = sendmsg(spi_fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        diag("not reading", path, errno);
        fill_idle(rx, len);
        return;
    }
    if (sent != (ssize_t)len + SPI_NUMBER_BYTES) {
        diag("send failed", path, sent < 0 ? errno : EMSGSIZE);
        spi_close();
        fill_idle(rx, len);
        return;
    }

    /* Late answers may still come in before ours: they are dropped and the
     * wait goes on, to the same deadline. */
    for (;;) {
        long long left = deadline - now_ms();
        int r;
        ssize_t n;
        enum answer_kind kind;
        if (left <= 0)
            break;
        pfd.fd = spi_fd;
        pfd.events = POLLIN;
        pfd.revents = 0;
        r = poll(&pfd, 1, (int)left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        n = recv(spi_fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        kind = answer_kind(scratch, n, len);
        if (kind == ANSWER_OURS) {
            memcpy(rx, scratch, len);
            return;
        }
        if (kind == ANSWER_LATE) {
            late_unreported++;
            continue;
        }
        /* An empty or short message is a wrong answer, not a closed peer. */
        if (n < 0 || (n == 0 && spi_peer_hung_up())) {
            diag("peer closed", path, n == 0 ? ECONNRESET : errno);
            spi_close();
        }
        break;
    }
    fill_idle(rx, len);
}

void board_spi_transfer(uint8_t* tx, uint8_t* rx, uint16_t len)
{
    const char* path = getenv("ZQ_BOARD_SPI");

    if (!path || !*path) {
        memmove(rx, tx, len);
        return;
    }
    spi_exchange(path, tx, rx, len);
    report_late(path);
}
