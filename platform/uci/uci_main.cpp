// uci_service: serves the ubus object "uci" over the configuration files of a directory.
//
//   uci_service [-s <socket>] [<config-dir>]
//
// The bus socket is <socket>, else $UBUS_SOCKET, else the default; the directory defaults to
// /etc/config. SIGINT and SIGTERM end it with status 0; losing the bus ends it with status 1.
#include <csignal>
#include <cstdio>
#include <string>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "libubus.h"
#include "uci_service.h"

int main(int argc, char **argv) {
    const char *socketPath = nullptr;
    int opt;
    while ((opt = getopt(argc, argv, "s:h")) != -1) {
        if (opt == 's') {
            socketPath = optarg;
        } else {
            fprintf(stderr, "Usage: %s [-s <socket>] [<config-dir>]\n", argv[0]);
            return opt == 'h' ? 0 : 1;
        }
    }
    if (argc - optind > 1) {
        fprintf(stderr, "Usage: %s [-s <socket>] [<config-dir>]\n", argv[0]);
        return 1;
    }
    std::string dir = optind < argc ? argv[optind] : "/etc/config";
    if (access(dir.c_str(), R_OK | X_OK) != 0) {
        fprintf(stderr, "uci_service: cannot use configuration directory %s\n", dir.c_str());
        return 1;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int sigFd = signalfd(-1, &stop, SFD_CLOEXEC);
    ubus_context *ctx = ubus_connect(socketPath);
    if (!ctx) {
        fprintf(stderr, "uci_service: Failed to connect to ubus\n");
        return 1;
    }
    uci::Service service(dir);
    int ret = service.publish(ctx);
    if (ret != UBUS_STATUS_OK) {
        fprintf(stderr, "uci_service: cannot publish object uci: %s\n", ubus_strerror(ret));
        ubus_free(ctx);
        return 1;
    }
    printf("uci_service: serving %s\n", dir.c_str());
    fflush(stdout);
    int status = 0;
    for (;;) {
        pollfd fds[2] = {{ctx->sock.fd, POLLIN, 0}, {sigFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) break;
        if (fds[0].revents) ubus_handle_event(ctx);
        if (ctx->sock.eof) {
            fprintf(stderr, "uci_service: lost connection to ubus\n");
            status = 1;
            break;
        }
    }
    ubus_free(ctx);
    return status;
}
