/* Stand-in for the board support library, for running the driver without
 * the board.
 *
 * ZQ_BOARD_SERIAL  names the serial port (default /dev/ttyS1).
 * ZQ_BOARD_SPI     names a Unix SOCK_SEQPACKET socket where a simulated shield
 *                  listens; each transfer is one message each way. Unset: the
 *                  SPI line is a loopback (rx = tx).
 */
#define _GNU_SOURCE
#include "libzq-board-korvel-20203.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#define SPI_ANSWER_TIMEOUT_MS 10
#define RETRY_INTERVAL_MS 1000
/* Stale messages dropped per transfer at most: a peer that floods must not
 * keep the exchange in the drain loop. */
#define MAX_STALE_DROPPED 1024

static int spi_fd = -1;
static int spi_attempted = 0;
static long long last_connect_try_ms = 0;
static long long last_diag_ms = 0;
static int diag_written = 0;
static char default_port[] = "/dev/ttyS1";

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* At most one line a second, so a missing peer cannot flood stderr. The
 * audio thread calls this, so a stderr nobody reads (a full pipe) must not
 * stop it: the line is skipped unless it can be written at once. */
static void diag(const char* what, const char* path, int err)
{
    char line[512];
    struct pollfd pfd;
    long long now = now_ms();
    int n;

    if (diag_written && now - last_diag_ms < 1000)
        return;
    diag_written = 1;
    last_diag_ms = now;
    n = snprintf(line, sizeof(line), "board: SPI peer %s: %s (%s)\n", path, what, strerror(err));
    if (n <= 0)
        return;
    if ((size_t)n >= sizeof(line)) {
        n = (int)sizeof(line) - 1;
        line[n - 1] = '\n';
    }
    pfd.fd = STDERR_FILENO;
    pfd.events = POLLOUT;
    pfd.revents = 0;
    /* Writable pipe: room for at least PIPE_BUF bytes, so one short write
     * does not wait. */
    if (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLOUT))
        (void)!write(STDERR_FILENO, line, (size_t)n);
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

void board_spi_transfer(uint8_t* tx, uint8_t* rx, uint16_t len)
{
    const char* path = getenv("ZQ_BOARD_SPI");
    uint8_t scratch[65536];
    struct pollfd pfd;
    long long deadline;
    ssize_t sent;

    if (!path || !*path) {
        memmove(rx, tx, len);
        return;
    }
    if (spi_fd < 0 && (!spi_attempted || now_ms() - last_connect_try_ms >= RETRY_INTERVAL_MS))
        spi_connect();
    if (spi_fd < 0) {
        fill_idle(rx, len);
        return;
    }

    deadline = now_ms() + SPI_ANSWER_TIMEOUT_MS;

    /* A late answer to an earlier transfer must not pass for this one. Empty
     * messages are dropped too; a closed peer ends the loop. */
    for (int i = 0; i < MAX_STALE_DROPPED; i++) {
        ssize_t n = recv(spi_fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (n > 0 || (n == 0 && !spi_peer_hung_up()))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        diag("peer closed", path, n == 0 ? ECONNRESET : errno);
        spi_close();
        fill_idle(rx, len);
        return;
    }

    /* Never waits for room: a peer that stopped reading is not gone, it just
     * gets no block this time and we get no answer. */
    sent = send(spi_fd, tx, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        diag("not reading", path, errno);
        fill_idle(rx, len);
        return;
    }
    if (sent != (ssize_t)len) {
        diag("send failed", path, sent < 0 ? errno : EMSGSIZE);
        spi_close();
        fill_idle(rx, len);
        return;
    }

    for (;;) {
        long long left = deadline - now_ms();
        int r;
        ssize_t n;
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
        if (n == (ssize_t)len) {
            memcpy(rx, scratch, len);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        /* An empty or short message is a wrong answer, not a closed peer. */
        if (n < 0 || (n == 0 && spi_peer_hung_up())) {
            diag("peer closed", path, n == 0 ? ECONNRESET : errno);
            spi_close();
        }
        break;
    }
    fill_idle(rx, len);
}
