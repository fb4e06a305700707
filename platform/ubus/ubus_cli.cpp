// ubus: command-line client of the bus.
//
//   ubus [-s <socket>] [-t <timeout>] [-S] [-v] <command> [arguments...]
//     list [<path>]                  objects (with -v their methods and argument types)
//     call <path> <method> [<json>]  call a method, print each reply as JSON
//     listen [<pattern>...]          print events as they come (-t: stop after that many seconds)
//     send <type> [<json>]           send an event
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <libubox/blobmsg_json.h>

#include "libubus.h"

namespace {

struct Options {
    const char *socket = nullptr;
    int timeoutSec = 30;
    bool timeoutGiven = false;
    bool simple = false;
    bool verbose = false;
};

Options gOpt;

void usage(const char *prog) {
    fprintf(stderr,
            "Usage: %s [<options>] <command> [arguments...]\n"
            "Options:\n"
            " -s <socket>:    connect to this bus socket\n"
            " -t <timeout>:   seconds to wait for a reply (call) or to listen (listen)\n"
            " -S:             simple output: compact JSON, no error texts\n"
            " -v:             with list: show methods and argument types\n"
            "Commands:\n"
            " - list [<path>]                  list objects\n"
            " - call <path> <method> [<json>]  call a method of an object\n"
            " - listen [<pattern>...]          print events as they arrive\n"
            " - send <type> [<json>]           send an event\n",
            prog);
}

// Errors that name the whole command: "Command failed: ubus call a b (text)".
struct CallFailure {
    int status;
};

const char *typeName(int type) {
    switch (type) {
    case BLOBMSG_TYPE_INT8: return "Boolean";
    case BLOBMSG_TYPE_INT32: return "Integer";
    case BLOBMSG_TYPE_STRING: return "String";
    case BLOBMSG_TYPE_ARRAY: return "Array";
    case BLOBMSG_TYPE_TABLE: return "Table";
    default: return "(unknown)";
    }
}

void printObject(ubus_context *, ubus_object_data *obj, void *) {
    if (!gOpt.verbose || gOpt.simple) {
        printf("%s\n", obj->path);
        return;
    }
    printf("'%s' @%08x\n", obj->path, obj->id);
    if (!obj->signature) return;
    blob_attr *method;
    size_t rem = blob_len(obj->signature);
    __blob_for_each_attr(method, blob_data(obj->signature), rem) {
        if (!blobmsg_check_attr(method, false)) continue;
        std::string line = "\t\"" + std::string(blobmsg_name(method)) + "\":{";
        blob_attr *arg;
        size_t argRem;
        bool first = true;
        blobmsg_for_each_attr(arg, method, argRem) {
            if (blobmsg_type(arg) != BLOBMSG_TYPE_INT32) continue;
            if (!first) line += ",";
            first = false;
            line += "\"" + std::string(blobmsg_name(arg)) + "\":\"" + typeName(static_cast<int>(blobmsg_get_u32(arg))) + "\"";
        }
        printf("%s}\n", line.c_str());
    }
}

int reportStatus(int status) {
    if (status && !gOpt.simple) fprintf(stderr, "Command failed: %s\n", ubus_strerror(status));
    return status;
}

int cmdList(ubus_context *ctx, int argc, char **argv) {
    if (argc > 1) return -1;
    return reportStatus(ubus_lookup(ctx, argc ? argv[0] : nullptr, printObject, nullptr));
}

void printReply(ubus_request *, int, blob_attr *msg) {
    char *text = blobmsg_format_json_indent(msg, true, gOpt.simple ? -1 : 0);
    if (text) printf("%s\n", text);
    free(text);
    fflush(stdout);
}

int cmdCall(ubus_context *ctx, int argc, char **argv, CallFailure &failure) {
    if (argc < 2 || argc > 3) return -1;
    blob_buf b{};
    blobmsg_buf_init(&b);
    int status = UBUS_STATUS_OK;
    if (argc == 3 && !blobmsg_add_json_from_string(&b, argv[2])) {
        status = UBUS_STATUS_PARSE_ERROR;
    } else {
        uint32_t id = 0;
        int lookup = ubus_lookup_id(ctx, argv[0], &id);
        if (lookup) {
            blob_buf_free(&b);
            return reportStatus(lookup);
        }
        status = ubus_invoke(ctx, id, argv[1], b.head, printReply, nullptr, gOpt.timeoutSec * 1000);
    }
    blob_buf_free(&b);
    failure.status = status;
    return status;
}

void printEvent(ubus_context *, ubus_event_handler *, const char *type, blob_attr *msg) {
    char *text = blobmsg_format_json(msg, true);
    printf("{ \"%s\": %s }\n", type, text ? text : "{}");
    free(text);
    fflush(stdout);
}

int cmdListen(ubus_context *ctx, int argc, char **argv) {
    static ubus_event_handler listener{};
    listener.cb = printEvent;
    std::vector<const char *> patterns(argv, argv + argc);
    if (patterns.empty()) patterns.push_back("*");
    for (const char *pattern : patterns) {
        int ret = ubus_register_event_handler(ctx, &listener, pattern);
        if (ret) {
            fprintf(stderr, "Error while registering for event '%s': %s\n", pattern, ubus_strerror(ret));
            return 255;
        }
    }
    using Clock = std::chrono::steady_clock;
    auto end = Clock::now() + std::chrono::seconds(gOpt.timeoutSec);
    for (;;) {
        int wait = -1;
        if (gOpt.timeoutGiven) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return 0;
            wait = static_cast<int>(left);
        }
        pollfd p{ctx->sock.fd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r > 0) ubus_handle_event(ctx);
        if (ctx->sock.eof) {
            fprintf(stderr, "Connection to ubus lost\n");
            return UBUS_STATUS_CONNECTION_FAILED;
        }
    }
}

int cmdSend(ubus_context *ctx, int argc, char **argv) {
    if (argc < 1 || argc > 2) return -1;
    blob_buf b{};
    blobmsg_buf_init(&b);
    int status;
    if (argc == 2 && !blobmsg_add_json_from_string(&b, argv[1])) status = UBUS_STATUS_PARSE_ERROR;
    else status = ubus_send_event(ctx, argv[0], b.head);
    blob_buf_free(&b);
    return reportStatus(status);
}

}  // namespace

int main(int argc, char **argv) {
    const char *prog = argv[0];
    int opt;
    while ((opt = getopt(argc, argv, "s:t:Sv")) != -1) {
        switch (opt) {
        case 's': gOpt.socket = optarg; break;
        case 't': {
            char *end = nullptr;
            long t = strtol(optarg, &end, 10);
            if (!*optarg || *end || t < 0 || t > 86400) {
                usage(prog);
                return 254;
            }
            gOpt.timeoutSec = static_cast<int>(t);
            gOpt.timeoutGiven = true;
            break;
        }
        case 'S': gOpt.simple = true; break;
        case 'v': gOpt.verbose = true; break;
        default: usage(prog); return 254;
        }
    }
    argc -= optind;
    argv += optind;
    if (argc < 1) {
        usage(prog);
        return 1;
    }
    std::string cmd = argv[0];
    argc--;
    argv++;
    if (cmd != "list" && cmd != "call" && cmd != "listen" && cmd != "send") {
        usage(prog);
        return 254;
    }
    ubus_context *ctx = ubus_connect(gOpt.socket);
    if (!ctx) {
        if (!gOpt.simple) fprintf(stderr, "Failed to connect to ubus\n");
        return 255;
    }
    int ret;
    CallFailure failure{0};
    if (cmd == "list") ret = cmdList(ctx, argc, argv);
    else if (cmd == "call") ret = cmdCall(ctx, argc, argv, failure);
    else if (cmd == "listen") ret = cmdListen(ctx, argc, argv);
    else ret = cmdSend(ctx, argc, argv);
    ubus_free(ctx);
    if (ret < 0) {
        usage(prog);
        return 254;
    }
    if (failure.status) {
        // A failed call names the command line it ran; the exit status is the negated ubus
        // status, so status 2 collides with the usage error and gets the usage text too.
        if (gOpt.simple) return failure.status;
        if (isatty(STDERR_FILENO)) {
            fprintf(stderr, "Command failed: %s\n", ubus_strerror(failure.status));
            return failure.status;
        }
        std::string line = "Command failed: ubus call ";
        for (int i = 0; i < argc; i++) line += std::string(argv[i]) + " ";
        fprintf(stderr, "%s(%s)\n", line.c_str(), ubus_strerror(failure.status));
        if (failure.status == UBUS_STATUS_INVALID_ARGUMENT) usage(prog);
        return (256 - failure.status) & 0xff;
    }
    return ret;
}
