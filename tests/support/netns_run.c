/* Runs a command in a private network namespace with its own loopback, so
 * tests that bind the driver's fixed UDP ports can run side by side. */
#define _GNU_SOURCE
#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    struct ifreq ifr;
    int fd;

    if (argc < 2) {
        fprintf(stderr, "usage: netns_run COMMAND [ARGS...]\n");
        return 2;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        fprintf(stderr, "netns_run: unshare: %s\n", strerror(errno));
        return 1;
    }
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        fprintf(stderr, "netns_run: socket: %s\n", strerror(errno));
        return 1;
    }
    memset(&ifr, 0, sizeof(ifr));
    strcpy(ifr.ifr_name, "lo");
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) != 0) {
        fprintf(stderr, "netns_run: SIOCGIFFLAGS: %s\n", strerror(errno));
        return 1;
    }
    ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
    if (ioctl(fd, SIOCSIFFLAGS, &ifr) != 0) {
        fprintf(stderr, "netns_run: SIOCSIFFLAGS: %s\n", strerror(errno));
        return 1;
    }
    close(fd);
    execvp(argv[1], argv + 1);
    fprintf(stderr, "netns_run: exec %s: %s\n", argv[1], strerror(errno));
    return 127;
}
