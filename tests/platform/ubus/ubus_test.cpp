// The client library against a real broker process: calls in every form, deferred replies,
// abort, time-outs, lookups, events, object announcements and disconnects.
#include <libubox/blobmsg_json.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "blob_helpers.h"
#include "tinyloop.h"

#include <sys/timerfd.h>
#include "bus_fixture.h"
#include "ubus_context.h"

namespace {

using bustest::BrokerProcess;
using bustest::runUntil;
using bustest::ServedContext;

// ---- the served object "test" ----

struct ServerState {
    std::mutex lock;
    std::vector<ubus_request_data> deferred;  // answered from the loop, after the handler
    std::atomic<int> hangs{0};
    std::atomic<uint32_t> lastPeer{0};
    std::atomic<int> callbackStatus{-1};
};
ServerState *gServer;

// Everything the served contexts of a test dispatched, in order: "<event name> <data>" or "call".
std::vector<std::string> *gServed;
// Runs once, on the first event dispatched; then cleared.
std::function<void()> gOnFirstEvent;

void replyU32(ubus_context *ctx, ubus_request_data *req, const char *name, uint32_t value) {
    blob_buf b{};
    blobmsg_buf_init(&b);
    blobmsg_add_u32(&b, name, value);
    ubus_send_reply(ctx, req, b.head);
    blob_buf_free(&b);
}

int methodEcho(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) {
    gServer->lastPeer = req->peer;
    ubus_send_reply(ctx, req, msg);
    return UBUS_STATUS_OK;
}

int methodTwice(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    replyU32(ctx, req, "n", 1);
    replyU32(ctx, req, "n", 2);
    return UBUS_STATUS_OK;
}

int methodFail(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    replyU32(ctx, req, "partial", 1);
    return UBUS_STATUS_UNKNOWN_ERROR;
}

int methodDefer(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    ubus_request_data saved;
    ubus_defer_request(ctx, req, &saved);
    std::lock_guard<std::mutex> guard(gServer->lock);
    gServer->deferred.push_back(saved);
    return UBUS_STATUS_UNKNOWN_ERROR;  // ignored: a deferred request sends no status here
}

int methodHang(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    ubus_request_data forgotten;
    ubus_defer_request(ctx, req, &forgotten);
    gServer->hangs++;
    return UBUS_STATUS_OK;
}

// "callback": while the caller still waits for the answer, call its object back.
int methodCallback(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) {
    static const blobmsg_policy policy[1] = {{"obj", BLOBMSG_TYPE_INT32}};
    blob_attr *tb[1];
    if (blobmsg_parse(policy, 1, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg))) != 0 || !tb[0])
        return UBUS_STATUS_INVALID_ARGUMENT;
    ubus_request_data saved;
    ubus_defer_request(ctx, req, &saved);
    auto *call = new ubus_request{};
    if (ubus_invoke_async(ctx, blobmsg_get_u32(tb[0]), "m", nullptr, call) != 0) return UBUS_STATUS_UNKNOWN_ERROR;
    call->complete_cb = [](ubus_request *r, int status) {
        gServer->callbackStatus = status;
        delete r;
    };
    ubus_complete_request_async(ctx, call);
    std::lock_guard<std::mutex> guard(gServer->lock);
    gServer->deferred.push_back(saved);
    return UBUS_STATUS_OK;
}

void answerDeferred(ubus_context *ctx) {
    std::vector<ubus_request_data> due;
    {
        std::lock_guard<std::mutex> guard(gServer->lock);
        due.swap(gServer->deferred);
    }
    for (ubus_request_data &req : due) {
        replyU32(ctx, &req, "late", 7);
        ubus_complete_deferred_request(ctx, &req, UBUS_STATUS_OK);
    }
}

const blobmsg_policy kEchoPolicy[] = {{"msg", BLOBMSG_TYPE_STRING}, {"n", BLOBMSG_TYPE_INT32}};
const ubus_method kTestMethods[] = {
    UBUS_METHOD("echo", methodEcho, kEchoPolicy), UBUS_METHOD_NOARG("twice", methodTwice),
    UBUS_METHOD_NOARG("fail", methodFail),        UBUS_METHOD_NOARG("defer", methodDefer),
    UBUS_METHOD_NOARG("hang", methodHang),        UBUS_METHOD_NOARG("callback", methodCallback),
};
ubus_object_type gTestType = UBUS_OBJECT_TYPE("test", kTestMethods);
ubus_object makeObject(const char *name, ubus_object_type *type, const ubus_method *methods, int count) {
    ubus_object obj{};
    obj.name = name;
    obj.type = type;
    obj.methods = methods;
    obj.n_methods = count;
    return obj;
}

ubus_object gTestObject = makeObject("test", &gTestType, kTestMethods, static_cast<int>(ARRAY_SIZE(kTestMethods)));

void publishTest(ubus_context *ctx) {
    gTestType.id = 0;
    ASSERT_EQ(ubus_add_object(ctx, &gTestObject), UBUS_STATUS_OK);
}

// ---- the caller's side ----

struct Replies {
    std::vector<std::string> data;
    int completions = 0;
    int status = -1;
};

void collectData(ubus_request *req, int type, blob_attr *msg) {
    EXPECT_EQ(type, UBUS_MSG_DATA);
    char *json = blobmsg_format_json(msg, true);
    static_cast<Replies *>(req->priv)->data.push_back(json ? json : "");
    free(json);
}

void collectComplete(ubus_request *req, int status) {
    auto *r = static_cast<Replies *>(req->priv);
    r->completions++;
    r->status = status;
}

class UbusTest : public ::testing::Test {
protected:
    void SetUp() override {
        gServer = &state;
        server = std::make_unique<ServedContext>(broker.socket, publishTest, answerDeferred);
        ctx = ubus_connect(broker.socket.c_str());
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(ubus_lookup_id(ctx, "test", &testId), UBUS_STATUS_OK);
    }
    void TearDown() override {
        if (ctx) ubus_free(ctx);
        server.reset();
        gServed = nullptr;
        gOnFirstEvent = nullptr;
    }
    int call(const char *method, const char *json, Replies &r, int timeoutMs = 5000) {
        blob_buf b{};
        blobmsg_buf_init(&b);
        if (json) {
            EXPECT_TRUE(blobmsg_add_json_from_string(&b, json));
        }
        int ret = ubus_invoke(ctx, testId, method, b.head, collectData, &r, timeoutMs);
        blob_buf_free(&b);
        return ret;
    }
    // Sends `method` to object `id` without waiting: the answer's data and completion land in `r`.
    int invokeAsync(uint32_t id, const char *method, blob_attr *msg, ubus_request &req, Replies &r) {
        return invokeAsyncFrom(ctx, id, method, msg, req, r);
    }
    static int invokeAsyncFrom(ubus_context *from, uint32_t id, const char *method, blob_attr *msg,
                               ubus_request &req, Replies &r) {
        const int ret = ubus_invoke_async(from, id, method, msg, &req);
        if (ret != UBUS_STATUS_OK) return ret;
        req.data_cb = collectData;
        req.complete_cb = collectComplete;
        req.priv = &r;
        ubus_complete_request_async(from, &req);
        return ret;
    }

    BrokerProcess broker;
    ServerState state;
    std::unique_ptr<ServedContext> server;
    ubus_context *ctx = nullptr;
    uint32_t testId = 0;
};

TEST_F(UbusTest, SynchronousInvokeDeliversEveryDataThenTheStatus) {
    Replies echo;
    EXPECT_EQ(call("echo", R"({"msg":"hi","n":3})", echo), UBUS_STATUS_OK);
    EXPECT_EQ(echo.data, (std::vector<std::string>{R"({"msg":"hi","n":3})"}));
    EXPECT_EQ(state.lastPeer.load(), ctx->local_id);  // the server sees who called

    Replies twice;
    EXPECT_EQ(call("twice", nullptr, twice), UBUS_STATUS_OK);
    EXPECT_EQ(twice.data, (std::vector<std::string>{R"({"n":1})", R"({"n":2})"}));

    Replies fail;
    EXPECT_EQ(call("fail", nullptr, fail), UBUS_STATUS_UNKNOWN_ERROR);
    EXPECT_EQ(fail.data.size(), 1u);

    Replies none;
    EXPECT_EQ(call("nosuch", nullptr, none), UBUS_STATUS_METHOD_NOT_FOUND);
    EXPECT_EQ(ubus_invoke(ctx, 0x7fff1234, "echo", nullptr, nullptr, nullptr, 1000), UBUS_STATUS_NOT_FOUND);
}

TEST_F(UbusTest, LargeMessagesPassAndOversizeOnesAreRefusedBeforeSending) {
    blob_buf b{};
    blobmsg_buf_init(&b);
    std::string big(900 * 1024, 'x');
    blobmsg_add_string(&b, "msg", big.c_str());
    Replies r;
    EXPECT_EQ(ubus_invoke(ctx, testId, "echo", b.head, collectData, &r, 5000), UBUS_STATUS_OK);
    ASSERT_EQ(r.data.size(), 1u);
    EXPECT_EQ(r.data[0].size(), big.size() + 10);  // {"msg":"..."}
    blobmsg_add_string(&b, "more", big.c_str());  // now beyond 1 MiB
    EXPECT_EQ(ubus_invoke(ctx, testId, "echo", b.head, collectData, &r, 5000), UBUS_STATUS_INVALID_ARGUMENT);
    blob_buf_free(&b);
    Replies after;
    EXPECT_EQ(call("twice", nullptr, after), UBUS_STATUS_OK);
}

TEST_F(UbusTest, AsynchronousInvokeRunsDataAndCompletionCallbacksOnce) {
    Replies r;
    ubus_request req{};
    blob_buf b{};
    blobmsg_buf_init(&b);
    blobmsg_add_string(&b, "msg", "async");
    ASSERT_EQ(invokeAsync(testId, "echo", b.head, req, r), UBUS_STATUS_OK);
    blob_buf_free(&b);
    ASSERT_TRUE(runUntil(ctx, [&] { return r.completions > 0; }));
    EXPECT_EQ(r.status, UBUS_STATUS_OK);
    EXPECT_EQ(r.data, (std::vector<std::string>{R"({"msg":"async"})"}));
    EXPECT_EQ(req.peer, testId);
    Replies after;
    EXPECT_EQ(call("twice", nullptr, after), UBUS_STATUS_OK);  // nothing more arrives for req
    EXPECT_EQ(r.completions, 1);
}

TEST_F(UbusTest, DeferredRequestIsAnsweredLaterWithDataAndStatus) {
    Replies sync;
    EXPECT_EQ(call("defer", nullptr, sync), UBUS_STATUS_OK);
    EXPECT_EQ(sync.data, (std::vector<std::string>{R"({"late":7})"}));

    Replies r;
    ubus_request req{};
    ASSERT_EQ(invokeAsync(testId, "defer", nullptr, req, r), UBUS_STATUS_OK);
    ASSERT_TRUE(runUntil(ctx, [&] { return r.completions > 0; }));
    EXPECT_EQ(r.status, UBUS_STATUS_OK);
    EXPECT_EQ(r.data.size(), 1u);
}

TEST_F(UbusTest, AbortedRequestNeverCallsBack) {
    Replies r;
    ubus_request req{};
    ASSERT_EQ(invokeAsync(testId, "defer", nullptr, req, r), UBUS_STATUS_OK);
    ubus_abort_request(ctx, &req);
    // The late answer reaches this socket before the answer to the next call.
    Replies next;
    EXPECT_EQ(call("twice", nullptr, next), UBUS_STATUS_OK);
    ubus_handle_event(ctx);
    EXPECT_EQ(r.completions, 0);
    EXPECT_TRUE(r.data.empty());
}

TEST_F(UbusTest, SynchronousInvokeTimesOut) {
    Replies r;
    EXPECT_EQ(call("hang", nullptr, r, 200), UBUS_STATUS_TIMEOUT);
    Replies next;  // the connection stays usable
    EXPECT_EQ(call("twice", nullptr, next), UBUS_STATUS_OK);
}

void collectPath(ubus_context *, ubus_object_data *obj, void *priv) {
    static_cast<std::vector<std::string> *>(priv)->push_back(obj->path);
}

TEST_F(UbusTest, LookupFindsPresentObjectsAndReportsAbsentOnes) {
    ubus_object_type type = UBUS_OBJECT_TYPE("more", kTestMethods);
    ubus_object a = makeObject("test.b", &type, kTestMethods, 1);
    ubus_object c = makeObject("tesla", &type, kTestMethods, 1);
    ASSERT_EQ(ubus_add_object(ctx, &a), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_add_object(ctx, &c), UBUS_STATUS_OK);  // the second reuses the type id
    EXPECT_NE(type.id, 0u);
    uint32_t id = 0;
    EXPECT_EQ(ubus_lookup_id(ctx, "test.b", &id), UBUS_STATUS_OK);
    EXPECT_EQ(id, a.id);
    EXPECT_EQ(ubus_lookup_id(ctx, "absent", &id), UBUS_STATUS_NOT_FOUND);
    std::vector<std::string> paths;
    EXPECT_EQ(ubus_lookup(ctx, "test*", collectPath, &paths), UBUS_STATUS_OK);
    EXPECT_EQ(paths, (std::vector<std::string>{"test", "test.b"}));
    paths.clear();
    EXPECT_EQ(ubus_lookup(ctx, nullptr, collectPath, &paths), UBUS_STATUS_OK);
    EXPECT_EQ(paths, (std::vector<std::string>{"tesla", "test", "test.b"}));
    EXPECT_EQ(ubus_lookup(ctx, "nomatch*", collectPath, &paths), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(ubus_remove_object(ctx, &a), UBUS_STATUS_OK);
    EXPECT_EQ(ubus_lookup_id(ctx, "test.b", &id), UBUS_STATUS_NOT_FOUND);
    // A duplicate path is refused.
    ubus_object dup = makeObject("test", &type, kTestMethods, 1);
    EXPECT_EQ(ubus_add_object(ctx, &dup), UBUS_STATUS_INVALID_ARGUMENT);
}

struct EventLog {
    ubus_event_handler handler{};
    std::vector<std::string> events;  // "name data"
};

void logEvent(ubus_context *, ubus_event_handler *ev, const char *type, blob_attr *msg) {
    auto *log = reinterpret_cast<EventLog *>(ev);  // the handler is the first member
    char *json = blobmsg_format_json(msg, true);
    log->events.push_back(std::string(type) + " " + (json ? json : ""));
    free(json);
    if (gServed) gServed->push_back(log->events.back());
    if (gOnFirstEvent) std::exchange(gOnFirstEvent, nullptr)();
}

TEST_F(UbusTest, EventsReachExactAndWildcardPatternsOnce) {
    EventLog exact, wild, own;
    for (EventLog *log : {&exact, &wild, &own}) log->handler.cb = logEvent;
    ubus_context *listener = ubus_connect(broker.socket.c_str());
    ASSERT_NE(listener, nullptr);
    ASSERT_EQ(ubus_register_event_handler(listener, &exact.handler, "line.event"), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_register_event_handler(listener, &wild.handler, "line.*"), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_register_event_handler(listener, &wild.handler, "line.ev*"), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_register_event_handler(ctx, &own.handler, "*"), UBUS_STATUS_OK);
    blob_buf b{};
    blobmsg_buf_init(&b);
    blobmsg_add_u32(&b, "line", 1);
    EXPECT_EQ(ubus_send_event(ctx, "line.event", b.head), UBUS_STATUS_OK);
    EXPECT_EQ(ubus_send_event(ctx, "line.other", b.head), UBUS_STATUS_OK);
    EXPECT_EQ(ubus_send_event(ctx, "unrelated", b.head), UBUS_STATUS_OK);
    EXPECT_EQ(ubus_send_event(ctx, "ubus.fake", b.head), UBUS_STATUS_PERMISSION_DENIED);
    blob_buf_free(&b);
    ASSERT_TRUE(runUntil(listener, [&] { return wild.events.size() >= 2 && exact.events.size() >= 1; }));
    Replies flush;  // a round trip on the sender's own connection
    EXPECT_EQ(call("twice", nullptr, flush), UBUS_STATUS_OK);
    ubus_handle_event(ctx);
    EXPECT_EQ(exact.events, (std::vector<std::string>{R"(line.event {"line":1})"}));
    EXPECT_EQ(wild.events, (std::vector<std::string>{R"(line.event {"line":1})", R"(line.other {"line":1})"}));
    EXPECT_TRUE(own.events.empty());  // no loopback to the sender
    EXPECT_EQ(ubus_unregister_event_handler(listener, &exact.handler), UBUS_STATUS_OK);
    ubus_free(listener);
}

int hangerHang(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    return methodHang(ctx, nullptr, req, nullptr, nullptr);
}
const ubus_method kHangerMethods[] = {UBUS_METHOD_NOARG("hang", hangerHang)};
ubus_object_type gHangerType = UBUS_OBJECT_TYPE("hanger", kHangerMethods);
ubus_object gHanger = makeObject("hanger", &gHangerType, kHangerMethods, 1);

TEST_F(UbusTest, CallsFailWhenTheServingClientDisconnectsMidCall) {
    gHangerType.id = 0;
    ServedContext hanger(broker.socket, [](ubus_context *c) { ASSERT_EQ(ubus_add_object(c, &gHanger), 0); });
    uint32_t hangerId = 0;
    ASSERT_EQ(ubus_lookup_id(ctx, "hanger", &hangerId), UBUS_STATUS_OK);
    // Asynchronous: the completion comes with an error.
    Replies r;
    ubus_request req{};
    ASSERT_EQ(invokeAsync(hangerId, "hang", nullptr, req, r), UBUS_STATUS_OK);
    // Synchronous, from this thread, while the server goes away from another.
    // Both calls reach the server before it goes; a bounded wait, so that a lost call fails the
    // test instead of hanging it.
    std::atomic<bool> bothArrived{false};
    std::thread stopper([&] {
        const auto end = bustest::Clock::now() + std::chrono::seconds(10);
        while (state.hangs < 2 && bustest::Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bothArrived = state.hangs >= 2;
        hanger.stop();
    });
    EXPECT_EQ(ubus_invoke(ctx, hangerId, "hang", nullptr, nullptr, nullptr, 30000), UBUS_STATUS_CONNECTION_FAILED);
    stopper.join();
    EXPECT_TRUE(bothArrived) << "the server saw " << state.hangs << " of the 2 calls";
    ASSERT_TRUE(runUntil(ctx, [&] { return r.completions > 0; }));
    EXPECT_EQ(r.status, UBUS_STATUS_CONNECTION_FAILED);
}

TEST_F(UbusTest, LosingTheBrokerCompletesPendingRequestsAndQuietsTheDescriptor) {
    Replies r;
    ubus_request req{};
    ASSERT_EQ(invokeAsync(testId, "hang", nullptr, req, r), UBUS_STATUS_OK);
    ASSERT_TRUE(runUntil(ctx, [&] { return state.hangs >= 1; })) << "the call never reached the server";
    broker.stop();
    ASSERT_TRUE(runUntil(ctx, [&] { return r.completions > 0; }));
    EXPECT_EQ(r.status, UBUS_STATUS_TIMEOUT);
    EXPECT_TRUE(ctx->sock.eof);
    pollfd p{ctx->sock.fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 50), 0);  // a loop serving it does not spin
    EXPECT_EQ(ubus_invoke(ctx, testId, "twice", nullptr, nullptr, nullptr, 1000), UBUS_STATUS_CONNECTION_FAILED);
}

// ---- a context served from the event loop, as the daemon serves it ----

struct LoopRun {
    ubus_context *ctx = nullptr;
    int base = -1;
    tl_stream_t *bus = nullptr;
    tl_stream_t *guard = nullptr;
    int served = 0;
    bool timedOut = false;
};
LoopRun *gLoop;

void stopLoop() {
    tl_base_delete_stream(gLoop->base, gLoop->bus);
    tl_base_delete_stream(gLoop->base, gLoop->guard);
}

int methodM(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *) {
    gLoop->served++;
    stopLoop();
    return UBUS_STATUS_OK;
}
const ubus_method kMMethods[] = {UBUS_METHOD_NOARG("m", methodM)};
ubus_object_type gMType = UBUS_OBJECT_TYPE("m", kMMethods);
ubus_object gMObject = makeObject("caller", &gMType, kMMethods, 1);

TEST_F(UbusTest, CallsArrivingDuringASynchronousCallAreServedFromTheLoopAfterwards) {
    LoopRun run;
    gLoop = &run;
    run.ctx = ctx;
    gMType.id = 0;
    ASSERT_EQ(ubus_add_object(ctx, &gMObject), UBUS_STATUS_OK);
    // The server calls "m" on this context while this context waits in a synchronous call:
    // the call must not run inside the wait, and must wake the loop afterwards by itself.
    blob_buf b{};
    blobmsg_buf_init(&b);
    blobmsg_add_u32(&b, "obj", gMObject.id);
    EXPECT_EQ(ubus_invoke(ctx, testId, "callback", b.head, nullptr, nullptr, 5000), UBUS_STATUS_OK);
    blob_buf_free(&b);
    EXPECT_EQ(run.served, 0);

    run.base = tl_base_new();
    run.bus = tl_stream_new(ctx->sock.fd);
    tl_stream_add_handler(run.bus, 0, [](tl_stream_t *, tl_event_t *) { ubus_handle_event(gLoop->ctx); });
    tl_base_add_stream(run.base, run.bus);
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec five{{0, 0}, {5, 0}};
    timerfd_settime(timer, 0, &five, nullptr);
    run.guard = tl_stream_new(timer);
    tl_stream_add_handler(run.guard, 0, [](tl_stream_t *, tl_event_t *) {
        gLoop->timedOut = true;
        stopLoop();
    });
    tl_base_add_stream(run.base, run.guard);
    EXPECT_EQ(tl_base_dispatch(run.base), 0);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.served, 1);
    for (int i = 0; i < 500 && state.callbackStatus < 0; i++) usleep(10000);
    EXPECT_EQ(state.callbackStatus.load(), UBUS_STATUS_OK);
    tl_stream_free(run.bus);
    tl_stream_free(run.guard);
    tl_base_free(run.base);
    close(timer);
}

// ---- a caller that floods ----

struct CallerTally {
    std::vector<uint32_t> servedPeers;  // the caller of each call served, in order
};
CallerTally *gTally;

int methodCount(ubus_context *, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    gTally->servedPeers.push_back(req->peer);
    if (gServed) gServed->push_back("call");
    return UBUS_STATUS_OK;
}
const ubus_method kCountMethods[] = {UBUS_METHOD_NOARG("count", methodCount)};
ubus_object_type gCountType = UBUS_OBJECT_TYPE("count", kCountMethods);
ubus_object gCountObject = makeObject("counter", &gCountType, kCountMethods, 1);

// A caller on a raw socket, that sees every answer it gets, each one counted by its sequence number.
struct RawCaller {
    int fd = -1;
    ubuswire::FrameReader reader;
    std::map<uint16_t, std::vector<int>> statuses;  // seq -> every status answered for it
    size_t invokes = 0;                               // calls and events that reached it
    std::map<uint16_t, size_t> invokesBefore;         // seq -> invokes that came before its status
    uint32_t lastObject = 0;                          // the object id of the last DATA

    explicit RawCaller(const std::string &socket);
    ~RawCaller() { close(fd); }
    void send(uint8_t type, uint16_t seq, uint32_t peer, ubuswire::Builder &body) {
        const std::vector<uint8_t> frame = body.frame(type, seq, peer);
        ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
    }
    void invoke(uint32_t object, const char *method, uint16_t seq) {
        ubuswire::Builder body;
        body.u32(UBUS_ATTR_OBJID, object).string(UBUS_ATTR_METHOD, method).nested(UBUS_ATTR_DATA, nullptr, 0);
        send(UBUS_MSG_INVOKE, seq, object, body);
    }
    // Reads what has arrived, without waiting.
    void pump() {
        uint8_t buf[16384];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) reader.append(buf, static_cast<size_t>(n));
        ubuswire::Message msg;
        while (reader.next(msg) == ubuswire::FrameReader::Result::Message) {
            ubuswire::Attrs tb = ubuswire::parseAttrs(msg);
            if (msg.type == UBUS_MSG_INVOKE) invokes++;
            if (msg.type == UBUS_MSG_DATA && tb[UBUS_ATTR_OBJID]) lastObject = ubuswire::getU32(tb[UBUS_ATTR_OBJID]);
            if (msg.type == UBUS_MSG_STATUS && tb[UBUS_ATTR_STATUS]) {
                statuses[msg.seq].push_back(static_cast<int>(ubuswire::getU32(tb[UBUS_ATTR_STATUS])));
                invokesBefore.emplace(msg.seq, invokes);
            }
        }
    }
    bool answered(uint16_t seq) const { return statuses.count(seq) > 0; }
    // Reads until `seq` is answered or 10 s have passed.
    bool await(uint16_t seq) {
        const auto end = bustest::Clock::now() + std::chrono::seconds(10);
        while (!answered(seq) && bustest::Clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) pump();
        }
        return answered(seq);
    }
};

int rawConnect(const std::string &path);
std::vector<uint8_t> rawRead(int fd, size_t n);

RawCaller::RawCaller(const std::string &socket) : fd(rawConnect(socket)) { EXPECT_EQ(rawRead(fd, 12).size(), 12u); }

// One client sends calls far faster than they are served, another then sends one: the second is
// served in turn with the first's backlog, not behind it, and the flooder's calls beyond its
// share are answered at once with an error instead of piling up; each of its calls is answered
// once, however many turns the served context takes afterwards.
TEST_F(UbusTest, AFloodingCallerIsServedInTurnWithOthersAndItsBacklogIsBounded) {
    CallerTally tally;
    gTally = &tally;
    gCountType.id = 0;
    ASSERT_EQ(ubus_add_object(ctx, &gCountObject), UBUS_STATUS_OK);
    RawCaller flooder(broker.socket);
    ubus_context *other = ubus_connect(broker.socket.c_str());
    ASSERT_NE(other, nullptr);
    constexpr uint16_t kFlood = 200;
    for (uint16_t seq = 1; seq <= kFlood; seq++) flooder.invoke(gCountObject.id, "count", seq);
    // The broker answers a client's requests in order: once this look-up is answered, every
    // flooding call is on its way to the served context, ahead of the other client's.
    ubuswire::Builder lookup;
    lookup.string(UBUS_ATTR_OBJPATH, "counter");
    flooder.send(UBUS_MSG_LOOKUP, kFlood + 1, 0, lookup);
    ASSERT_TRUE(runUntil(other, [&] {
        flooder.pump();
        return flooder.answered(kFlood + 1);
    }));
    uint32_t id = 0;
    ubus_request otherReq{};
    Replies otherReply;
    ASSERT_EQ(invokeAsyncFrom(other, gCountObject.id, "count", nullptr, otherReq, otherReply), UBUS_STATUS_OK);
    // ... and once this one is answered, the other client's call is there too, before the served
    // context has read anything.
    ASSERT_EQ(ubus_lookup_id(other, "counter", &id), UBUS_STATUS_OK);

    const uint32_t otherId = other->local_id;
    auto otherServed = [&] {
        return std::find(tally.servedPeers.begin(), tally.servedPeers.end(), otherId) != tally.servedPeers.end();
    };
    ASSERT_TRUE(runUntil(ctx, otherServed));
    const auto otherAt = std::find(tally.servedPeers.begin(), tally.servedPeers.end(), otherId) -
                         tally.servedPeers.begin();
    EXPECT_LE(otherAt, 4) << "the other caller waited behind the flood";
    auto allAnswered = [&] {
        flooder.pump();
        for (uint16_t seq = 1; seq <= kFlood; seq++)
            if (!flooder.answered(seq)) return false;
        return true;
    };
    ASSERT_TRUE(runUntil(ctx, allAnswered));
    ASSERT_TRUE(runUntil(other, [&] { return otherReply.completions == 1; }));
    EXPECT_EQ(otherReply.status, UBUS_STATUS_OK);
    // One call more: the served context takes several turns before it is answered, and everything
    // it sent before reaches the flooder first.
    flooder.invoke(gCountObject.id, "count", kFlood + 2);
    ASSERT_TRUE(runUntil(ctx, [&] {
        flooder.pump();
        return flooder.answered(kFlood + 2);
    }));
    int refused = 0;
    for (uint16_t seq = 1; seq <= kFlood; seq++) {
        const std::vector<int> &got = flooder.statuses[seq];
        ASSERT_EQ(got.size(), 1u) << "call " << seq << " answered " << got.size() << " times";
        refused += got[0] == UBUS_STATUS_NO_MEMORY ? 1 : 0;
    }
    EXPECT_EQ(tally.servedPeers.size(), static_cast<size_t>(kFlood - refused + 2));
    EXPECT_GE(refused, kFlood / 2) << "the flood's backlog was kept whole";
    ubus_free(other);
}

// Twenty clients keep the served context's queue of calls full (63 each, beyond the 1024 it
// holds in all), then another client sends one call: it gets in, and is served in its turn, after
// one call of each flooder. Room for it is made by a flooder with the most waiting, which loses
// its newest call; every flooder keeps its older ones.
TEST_F(UbusTest, ACallerWithLittleWaitingGetsIntoAFullQueueAndIsServedInItsTurn) {
    CallerTally tally;
    gTally = &tally;
    gCountType.id = 0;
    ASSERT_EQ(ubus_add_object(ctx, &gCountObject), UBUS_STATUS_OK);
    constexpr int kFlooders = 20, kEach = 63;
    std::vector<ubus_context *> flooders;
    std::vector<std::vector<ubus_request>> floodReqs(kFlooders, std::vector<ubus_request>(kEach));
    std::vector<std::vector<Replies>> floodReplies(kFlooders, std::vector<Replies>(kEach));
    uint32_t id = 0;
    for (int f = 0; f < kFlooders; f++) {
        flooders.push_back(ubus_connect(broker.socket.c_str()));
        ASSERT_NE(flooders.back(), nullptr);
        for (int i = 0; i < kEach; i++)
            ASSERT_EQ(invokeAsyncFrom(flooders[f], gCountObject.id, "count", nullptr, floodReqs[f][i], floodReplies[f][i]),
                      UBUS_STATUS_OK);
        // Answered once the broker has passed this client's calls on (see above).
        ASSERT_EQ(ubus_lookup_id(flooders[f], "counter", &id), UBUS_STATUS_OK);
    }
    ubus_context *other = ubus_connect(broker.socket.c_str());
    ASSERT_NE(other, nullptr);
    ubus_request otherReq{};
    Replies otherReply;
    ASSERT_EQ(invokeAsyncFrom(other, gCountObject.id, "count", nullptr, otherReq, otherReply), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_lookup_id(other, "counter", &id), UBUS_STATUS_OK);
    // The served context reads (and queues) while it waits in synchronous calls, and serves
    // nothing then: once the other's call is queued, every flooding call has been read before it.
    const uint32_t otherId = other->local_id;
    for (int i = 0; i < 500 && !ctx->state->inbox.calls.byCaller.count(otherId); i++)
        ASSERT_EQ(ubus_lookup_id(ctx, "counter", &id), UBUS_STATUS_OK);
    ASSERT_EQ(ctx->state->inbox.calls.count, 1024u);

    ASSERT_TRUE(runUntil(ctx, [&] {
        return std::find(tally.servedPeers.begin(), tally.servedPeers.end(), otherId) != tally.servedPeers.end();
    }));
    const auto otherAt = std::find(tally.servedPeers.begin(), tally.servedPeers.end(), otherId) - tally.servedPeers.begin();
    EXPECT_EQ(otherAt, kFlooders) << "not served in its turn after one call of each flooder";
    ASSERT_TRUE(runUntil(other, [&] { return otherReply.completions == 1; }));
    EXPECT_EQ(otherReply.status, UBUS_STATUS_OK);

    ASSERT_TRUE(runUntil(ctx, [&] { return tally.servedPeers.size() >= 1024; }));
    for (int f = 0; f < kFlooders; f++) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(runUntil(flooders[f], [&] {
            int n = 0;
            for (const Replies &r : floodReplies[f]) n += r.completions;
            return n == kEach;
        }));
        // What a flooder lost is a tail of its newest calls.
        int refused = 0;
        for (int i = 0; i < kEach; i++) {
            const bool wasRefused = floodReplies[f][i].status == UBUS_STATUS_NO_MEMORY;
            if (refused > 0) {
                EXPECT_TRUE(wasRefused) << "an older call refused before call " << i;
            }
            refused += wasRefused ? 1 : 0;
        }
        EXPECT_LE(refused, kEach - 51) << "more than its share given up";
        ubus_free(flooders[f]);
    }
    // 1024 in all stay: the other's one, and 1023 of the flood.
    EXPECT_EQ(tally.servedPeers.size(), 1024u);
    ubus_free(other);
}

// ---- the broker's notices of objects, among the calls ----

// The broker's notices of objects reach every listener (one for additions, one for removals, one
// for both), each once, in the broker's order among the calls: a call is served after every notice
// that came before it and before every one that came after it. None is given up or merged away,
// whatever the listener saw meanwhile and however many arrive while it is busy: here the first
// addition it hears sets the object's removal off while the listener waits in a look-up, and
// later thousands of objects come and go while it reads but serves nothing.
TEST_F(UbusTest, ObjectNoticesAreServedAmongTheCallsInTheOrderTheyCameAndNoneIsLost) {
    std::vector<std::string> served;
    gServed = &served;
    CallerTally tally;
    gTally = &tally;
    gCountType.id = 0;
    ASSERT_EQ(ubus_add_object(ctx, &gCountObject), UBUS_STATUS_OK);
    EventLog added, removed, both;
    added.handler.cb = removed.handler.cb = both.handler.cb = logEvent;
    ASSERT_EQ(ubus_register_event_handler(ctx, &added.handler, "ubus.object.add"), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_register_event_handler(ctx, &both.handler, "ubus.object.*"), UBUS_STATUS_OK);
    ASSERT_EQ(ubus_register_event_handler(ctx, &removed.handler, "ubus.object.remove"), UBUS_STATUS_OK);
    ubus_context *other = ubus_connect(broker.socket.c_str());
    ASSERT_NE(other, nullptr);
    ubus_object_type type = UBUS_OBJECT_TYPE("pbx", kTestMethods);
    auto addition = [](uint32_t id, const char *path) {
        return "ubus.object.add {\"id\":" + std::to_string(static_cast<int32_t>(id)) + ",\"path\":\"" + path + "\"}";
    };
    auto removal = [](uint32_t id, const char *path) {
        return "ubus.object.remove {\"id\":" + std::to_string(static_cast<int32_t>(id)) + ",\"path\":\"" + path + "\"}";
    };

    // Heard while the listener waits: the broker sends the removal before it answers it.
    ubus_object first = makeObject("asterisk", &type, kTestMethods, 1);
    gOnFirstEvent = [&] {
        ASSERT_EQ(ubus_remove_object(other, &first), UBUS_STATUS_OK);
        uint32_t id = 0;
        EXPECT_EQ(ubus_lookup_id(ctx, "asterisk", &id), UBUS_STATUS_NOT_FOUND);
    };
    ASSERT_EQ(ubus_add_object(other, &first), UBUS_STATUS_OK);
    const uint32_t firstId = first.id;
    ASSERT_TRUE(runUntil(ctx, [&] { return served.size() >= 4; }));
    EXPECT_EQ(added.events, std::vector<std::string>{addition(firstId, "asterisk")});
    EXPECT_EQ(both.events, (std::vector<std::string>{addition(firstId, "asterisk"), removal(firstId, "asterisk")}));
    EXPECT_EQ(removed.events, std::vector<std::string>{removal(firstId, "asterisk")});

    // Calls and notices, one after the other on the listener's socket: a call is passed on
    // before the broker answers its caller's next request, a notice before the broker answers
    // the request that caused it.
    served.clear();
    RawCaller caller(broker.socket);
    uint16_t seq = 0;
    auto callNow = [&] {
        caller.invoke(gCountObject.id, "count", ++seq);
        ubuswire::Builder ping;
        caller.send(UBUS_MSG_PING, ++seq, 0, ping);
        ASSERT_TRUE(caller.await(seq));
    };
    std::vector<std::string> expected;
    auto twice = [&](const std::string &notice) { expected.insert(expected.end(), {notice, notice}); };
    ubus_object second = makeObject("dect", &type, kTestMethods, 1);
    ASSERT_NO_FATAL_FAILURE(callNow());
    expected.push_back("call");
    ASSERT_EQ(ubus_add_object(other, &second), UBUS_STATUS_OK);
    const uint32_t secondId = second.id;
    twice(addition(secondId, "dect"));
    ASSERT_NO_FATAL_FAILURE(callNow());
    expected.push_back("call");
    constexpr int kChurn = 2000;
    ubus_object passing = makeObject("passing", &type, kTestMethods, 1);
    for (int i = 0; i < kChurn; i++) {
        ASSERT_EQ(ubus_add_object(other, &passing), UBUS_STATUS_OK);
        twice(addition(passing.id, "passing"));
        twice(removal(passing.id, "passing"));
        ASSERT_EQ(ubus_remove_object(other, &passing), UBUS_STATUS_OK);
    }
    ASSERT_NO_FATAL_FAILURE(callNow());
    expected.push_back("call");
    // Disconnecting removes "dect".
    ubus_free(other);
    twice(removal(secondId, "dect"));
    // A look-up waits until the broker has sent everything before its answer; the listener keeps
    // all of it meanwhile, and serves it all afterwards.
    uint32_t id = 0;
    for (int i = 0; i < 500 && ubus_lookup_id(ctx, "dect", &id) != UBUS_STATUS_NOT_FOUND; i++) usleep(1000);
    EXPECT_EQ(ctx->state->inbox.broker.size() + ctx->state->inbox.calls.count, expected.size());
    ASSERT_TRUE(runUntil(ctx, [&] { return served.size() >= expected.size(); }));
    EXPECT_EQ(served, expected);
    EXPECT_EQ(both.events.size(), 2u + 2 * kChurn + 2);

    // A client that calls a handler's object by its id, naming the event as the method, is no
    // event: the broker sends events with peer 0, a client's call carries the client's id.
    ubus_context *forger = ubus_connect(broker.socket.c_str());
    ASSERT_NE(forger, nullptr);
    blob_buf forged{};
    blobmsg_buf_init(&forged);
    blobmsg_add_u32(&forged, "id", firstId);
    blobmsg_add_string(&forged, "path", "asterisk");
    ubus_request forgedReq{};
    Replies forgedReply;
    ASSERT_EQ(invokeAsyncFrom(forger, removed.handler.obj.id, "ubus.object.remove", forged.head, forgedReq, forgedReply),
              UBUS_STATUS_OK);
    blob_buf_free(&forged);
    ASSERT_TRUE(runUntil(forger, [&] {
        ubus_handle_event(ctx);
        return forgedReply.completions == 1;
    }));
    EXPECT_EQ(forgedReply.status, UBUS_STATUS_PERMISSION_DENIED);
    EXPECT_EQ(removed.events.size(), 1u + kChurn + 1);
    ubus_free(forger);
}

// ---- the broker against a raw socket ----

int rawConnect(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

std::vector<uint8_t> rawRead(int fd, size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(fd, out.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

void rawSend(int fd, const std::vector<uint8_t> &bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

TEST_F(UbusTest, BrokerAnswersBadRequestsAndDropsClientsThatBreakFraming) {
    int fd = rawConnect(broker.socket);
    auto hello = rawRead(fd, 12);
    ASSERT_EQ(hello.size(), 12u);
    EXPECT_EQ(hello[1], UBUS_MSG_HELLO);
    // An INVOKE without a method: status 2, seq and peer echoed.
    rawSend(fd, wireBytes("00 05 00 2a 12 34 56 78 | 00 00 00 0c | 03 00 00 08 00 00 04 00"));
    EXPECT_EQ(rawRead(fd, 20), wireBytes("00 01 00 2a 12 34 56 78 | 00 00 00 0c | 01 00 00 08 00 00 00 02"));
    // An unknown message type: status 1.
    rawSend(fd, wireBytes("00 2a 00 01 00 00 00 00 | 00 00 00 04"));
    EXPECT_EQ(rawRead(fd, 20), wireBytes("00 01 00 01 00 00 00 00 | 00 00 00 0c | 01 00 00 08 00 00 00 01"));
    // A lookup of an empty path: status 2; a ping is echoed.
    rawSend(fd, wireBytes("00 04 00 02 00 00 00 00 | 00 00 00 0c | 02 00 00 05 00 00 00 00"));
    EXPECT_EQ(rawRead(fd, 20), wireBytes("00 01 00 02 00 00 00 00 | 00 00 00 0c | 01 00 00 08 00 00 00 02"));
    // A body longer than 1 MiB: the broker disconnects this client.
    rawSend(fd, wireBytes("00 03 00 03 00 00 00 00 | 00 10 00 08"));
    uint8_t byte;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
    close(fd);
    // A body length below its own header: also disconnected.
    fd = rawConnect(broker.socket);
    rawRead(fd, 12);
    rawSend(fd, wireBytes("00 03 00 03 00 00 00 00 | 00 00 00 02"));
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
    close(fd);
    // Everyone else is still served.
    Replies r;
    EXPECT_EQ(call("twice", nullptr, r), UBUS_STATUS_OK);
}

TEST_F(UbusTest, PublishedSignatureMatchesTheWireFormat) {
    int fd = rawConnect(broker.socket);
    rawRead(fd, 12);
    rawSend(fd, wireBytes("00 04 00 01 00 00 00 00 | 00 00 00 0c | 02 00 00 09 \"test\" 00 00 00 00"));
    auto header = rawRead(fd, 12);
    ASSERT_EQ(header.size(), 12u);
    EXPECT_EQ(header[1], UBUS_MSG_DATA);
    size_t len = (static_cast<size_t>(header[9]) << 16 | static_cast<size_t>(header[10]) << 8 | header[11]) - 4;
    auto body = rawRead(fd, len);
    // OBJPATH, OBJID, OBJTYPE, then the signature: "echo" with its two typed arguments first.
    auto expectStart = wireBytes("02 00 00 09 \"test\" 00 00 00 00");
    ASSERT_GE(body.size(), 40u);
    EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.begin() + 12), expectStart);
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + 12, body.begin() + 16), wireBytes("03 00 00 08"));
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + 20, body.begin() + 24), wireBytes("05 00 00 08"));
    auto sigStart = wireBytes("82 00 00 28 00 04 \"echo\" 00 00 | 85 00 00 10 00 03 \"msg\" 00 00 00 00 00 00 03"
                              " | 85 00 00 0c 00 01 \"n\" 00 00 00 00 05");
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + 32, body.begin() + 32 + static_cast<long>(sigStart.size())), sigStart);
    close(fd);
}

}  // namespace

namespace {

// ---- the client library and the command-line client against a broker stand-in ----

// One message: header (type, seq and peer in network order) and a container of `attrs`.
std::vector<uint8_t> message(uint8_t type, const uint8_t *seqPeer, const std::vector<uint8_t> &attrs) {
    std::vector<uint8_t> out = {0, type, seqPeer[0], seqPeer[1], seqPeer[2], seqPeer[3], seqPeer[4], seqPeer[5]};
    const uint32_t len = static_cast<uint32_t>(4 + attrs.size());
    for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<uint8_t>(len >> shift));
    out.insert(out.end(), attrs.begin(), attrs.end());
    return out;
}

// Serves one client: a HELLO, lookups answered with one object, and every call answered with a
// status attribute two bytes long. Returns when the client hangs up.
void serveMalformedStatus(int listener) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const uint8_t helloSeqPeer[6] = {0, 0, 0, 0, 0x04, 0x00};
    rawSend(fd, message(UBUS_MSG_HELLO, helloSeqPeer, {}));
    for (;;) {
        std::vector<uint8_t> header = rawRead(fd, 12);
        if (header.size() < 12) break;
        const uint32_t len = (uint32_t(header[8]) << 24 | uint32_t(header[9]) << 16 | uint32_t(header[10]) << 8 | header[11]) & 0xFFFFFF;
        if (len > 4) rawRead(fd, len - 4);
        const uint8_t *seqPeer = header.data() + 2;
        if (header[1] == UBUS_MSG_LOOKUP) {
            rawSend(fd, message(UBUS_MSG_DATA, seqPeer,
                                wireBytes("02 00 00 08 \"odd\" 00 | 03 00 00 08 00 00 05 00 | 05 00 00 08 00 00 06 00")));
            rawSend(fd, message(UBUS_MSG_STATUS, seqPeer, wireBytes("01 00 00 08 00 00 00 00")));
        } else if (header[1] == UBUS_MSG_INVOKE) {
            rawSend(fd, message(UBUS_MSG_STATUS, seqPeer, wireBytes("01 00 00 06 00 00 00 00")));
        }
    }
    close(fd);
}

// A listening socket at `path` for a stand-in broker; -1 when it cannot be made.
int standInListener(const std::string &path) {
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path.c_str());
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listener, 4) != 0) {
        close(listener);
        return -1;
    }
    return listener;
}

TEST(UbusClientReplies, AStatusOfTheWrongSizeIsAnInvalidArgument) {
    bustest::TempDir dir;
    const std::string path = dir.path + "/stand-in.sock";
    const int listener = standInListener(path);
    ASSERT_GE(listener, 0);
    std::thread server([listener] {
        serveMalformedStatus(listener);
        serveMalformedStatus(listener);
    });
    ubus_context *ctx = ubus_connect(path.c_str());
    ASSERT_NE(ctx, nullptr);
    uint32_t id = 0;
    ASSERT_EQ(ubus_lookup_id(ctx, "odd", &id), UBUS_STATUS_OK);
    blob_buf b{};
    blobmsg_buf_init(&b);
    EXPECT_EQ(ubus_invoke(ctx, id, "m", b.head, nullptr, nullptr, 5000), UBUS_STATUS_INVALID_ARGUMENT);
    blob_buf_free(&b);
    ubus_free(ctx);
    // The command-line client reports it as the real one does.
    const std::string errPath = dir.path + "/cli.err";
    const std::string command = std::string(UBUS_CLI_PATH) + " -s " + path + " call odd m 2>" + errPath;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 254);
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    EXPECT_NE(text.str().find("Invalid argument"), std::string::npos) << text.str();
    server.join();
    close(listener);
}

// A broker stand-in that never stops sending: a HELLO; an anonymous object gets the id 0x500;
// the first look-up is answered only after a flood of events to that object. Returns when the
// client hangs up.
constexpr uint32_t kFloodTarget = 0x500;

// Adds the object the flood's calls are for, served by the one method of `methods`.
void addFloodTarget(ubus_context *ctx, ubus_object &target, const ubus_method *methods) {
    target.methods = methods;
    target.n_methods = 1;
    ASSERT_EQ(ubus_add_object(ctx, &target), UBUS_STATUS_OK);
}

// At least `floodBytes` of events to the stand-in's object, numbered from 0; returns how many.
// With a `caller`, they are that client's calls instead.
size_t floodEvents(size_t floodBytes, std::vector<uint8_t> &bytes, uint32_t caller = 0) {
    size_t n = 0;
    while (bytes.size() < floodBytes) {
        blob_buf data{};
        blobmsg_buf_init(&data);
        blobmsg_add_u32(&data, "n", static_cast<uint32_t>(n));
        blobmsg_add_string(&data, "pad", std::string(64, 'x').c_str());
        ubuswire::Builder body;
        body.u32(UBUS_ATTR_OBJID, kFloodTarget).string(UBUS_ATTR_METHOD, "flood");
        body.nested(UBUS_ATTR_DATA, blob_data(data.head), blob_len(data.head));
        blob_buf_free(&data);
        const std::vector<uint8_t> frame = body.frame(UBUS_MSG_INVOKE, static_cast<uint16_t>(n), caller);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        n++;
    }
    return n;
}

// The flood goes before the answer to the first look-up or, with `onCall`, before the answer to
// the first call.
void serveFlood(int listener, const std::vector<uint8_t> &flood, bool onCall = false) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    int room = 4 << 20;  // as much as can wait in the socket (forced when run as root)
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    const uint8_t helloSeqPeer[6] = {0, 0, 0, 0, 0x04, 0x00};
    rawSend(fd, message(UBUS_MSG_HELLO, helloSeqPeer, {}));
    bool flooded = false;
    for (;;) {
        std::vector<uint8_t> header = rawRead(fd, 12);
        if (header.size() < 12) break;
        const uint32_t len = (uint32_t(header[8]) << 24 | uint32_t(header[9]) << 16 | uint32_t(header[10]) << 8 | header[11]) & 0xFFFFFF;
        if (len > 4) rawRead(fd, len - 4);
        const uint8_t *seqPeer = header.data() + 2;
        if (header[1] == UBUS_MSG_STATUS) continue;  // the client's answer to a call: passed on unanswered
        if (header[1] == UBUS_MSG_ADD_OBJECT) {
            rawSend(fd, message(UBUS_MSG_DATA, seqPeer, wireBytes("03 00 00 08 00 00 05 00")));
        } else if (header[1] == (onCall ? UBUS_MSG_INVOKE : UBUS_MSG_LOOKUP)) {
            if (!flooded) rawSend(fd, flood);
            flooded = true;
        }
        if (header[1] == UBUS_MSG_LOOKUP)
            rawSend(fd, message(UBUS_MSG_DATA, seqPeer, wireBytes("02 00 00 08 \"odd\" 00 | 03 00 00 08 00 00 06 00")));
        rawSend(fd, message(UBUS_MSG_STATUS, seqPeer, wireBytes("01 00 00 08 00 00 00 00")));
    }
    close(fd);
}

struct FloodTally {
    uint32_t next = 0;     // the number the next event should carry
    bool inOrder = true;
};
FloodTally *gFlood;

int methodFlood(ubus_context *, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) {
    static const blobmsg_policy policy[1] = {{"n", BLOBMSG_TYPE_INT32}};
    blob_attr *tb[1] = {};
    blobmsg_parse(policy, 1, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg)));
    if (req->peer != 0 || !tb[0] || blobmsg_get_u32(tb[0]) != gFlood->next) gFlood->inOrder = false;
    gFlood->next++;
    return UBUS_STATUS_OK;
}

// A broker that sends without pause, more than the client can keep: a synchronous call behind it
// fails with "Out of memory" once the limit waits instead of reading on, the loop reads nothing
// while much waits, and every message is still served, in order, however long it waited. The
// bounds are the figures the library is meant to keep (256 KiB waiting for the loop, 8 MiB for a
// synchronous call, each passed by at most one read of 16 KiB), not its constants, so that a
// change of either is seen here.
TEST(UbusClientReplies, ABrokerThatFloodsTheClientIsReadNoFasterThanItIsServedAndNothingIsLost) {
    constexpr size_t kLoopBound = 256u << 10, kWaitBound = 8u << 20, kOneRead = 16384;
    bustest::TempDir dir;
    const std::string path = dir.path + "/stand-in.sock";
    const int listener = standInListener(path);
    ASSERT_GE(listener, 0);
    std::vector<uint8_t> flood;
    const size_t events = floodEvents(kWaitBound + (4u << 20), flood);
    std::thread server([listener, &flood] { serveFlood(listener, flood); });
    ubus_context *ctx = ubus_connect(path.c_str());
    ASSERT_NE(ctx, nullptr);
    FloodTally tally;
    gFlood = &tally;
    static const ubus_method methods[] = {{nullptr, methodFlood, 0, 0, nullptr, 0}};
    ubus_object target{};
    ASSERT_NO_FATAL_FAILURE(addFloodTarget(ctx, target, methods));
    ASSERT_EQ(target.id, kFloodTarget);

    const size_t &waiting = ctx->state->inbox.brokerBytes;
    uint32_t id = 0;
    EXPECT_EQ(ubus_lookup_id(ctx, "odd", &id), UBUS_STATUS_NO_MEMORY);
    EXPECT_GE(waiting, kWaitBound);
    EXPECT_LE(waiting, kWaitBound + 2 * kOneRead);
    // Served from the loop, which reads nothing while the mark is passed and, below it, a little
    // at a time.
    size_t before = waiting, most = 0;
    int grewAboveTheMark = 0;
    ASSERT_TRUE(runUntil(ctx, [&] {
        if (before >= kLoopBound && waiting > before) grewAboveTheMark++;
        if (before < kLoopBound) most = std::max(most, waiting);
        before = waiting;
        return tally.next >= events;
    }, 60000)) << tally.next << " of " << events << " served";
    EXPECT_TRUE(tally.inOrder);
    EXPECT_EQ(grewAboveTheMark, 0);
    EXPECT_LE(most, kLoopBound + 2 * kOneRead);
    EXPECT_FALSE(ctx->sock.eof);
    // The look-up's late answer is ignored; the connection serves on.
    EXPECT_EQ(ubus_lookup_id(ctx, "odd", &id), UBUS_STATUS_OK);
    EXPECT_EQ(id, 0x600u);
    ubus_free(ctx);
    server.join();
    close(listener);
}

int methodTallyCall(ubus_context *, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
    if (req->peer == 0) gFlood->inOrder = false;
    gFlood->next++;
    return UBUS_STATUS_OK;
}

size_t bytesUnread(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? static_cast<size_t>(n) : 0;
}

// A peer whose calls never stop coming (here: megabytes of them already in the socket) is read
// a few reads a turn, like the broker's own messages: the program's loop gets back to its other
// descriptors between turns instead of waiting until the socket runs dry. Calls do not count
// toward the broker's waiting bytes, so only the bound on reads a turn holds the loop here.
TEST(UbusClientReplies, APeerThatFloodsCallsIsReadAFewReadsATurnAndTheLoopGetsItsOtherTurns) {
    constexpr size_t kTurnBound = 256u << 10;  // 16 reads of 16 KiB
    bustest::TempDir dir;
    const std::string path = dir.path + "/stand-in.sock";
    const int listener = standInListener(path);
    ASSERT_GE(listener, 0);
    std::vector<uint8_t> flood;
    const size_t calls = floodEvents(2 * kTurnBound, flood, 0x700);
    std::thread server([listener, &flood] { serveFlood(listener, flood, /*onCall=*/true); });
    ubus_context *ctx = ubus_connect(path.c_str());
    ASSERT_NE(ctx, nullptr);
    FloodTally tally;
    gFlood = &tally;
    static const ubus_method methods[] = {{nullptr, methodTallyCall, 0, 0, nullptr, 0}};
    ubus_object target{};
    ASSERT_NO_FATAL_FAILURE(addFloodTarget(ctx, target, methods));
    // A call of its own sets the flood off; nothing is read until the loop's turn.
    const int sock = ctx->state->sockFd;
    ubus_request call{};
    blob_buf args{};
    blobmsg_buf_init(&args);
    ASSERT_EQ(ubus_invoke_async(ctx, 0x600, "m", args.head, &call), UBUS_STATUS_OK);
    blob_buf_free(&args);
    ubus_complete_request_async(ctx, &call);
    // The flood, then the call's own status: waited for whole, or the peer's status may still be
    // on its way when the connection closes at the end.
    const uint8_t anySeqPeer[6] = {};
    const size_t answer = flood.size() + message(UBUS_MSG_STATUS, anySeqPeer, wireBytes("01 00 00 08 00 00 00 00")).size();
    for (int i = 0; i < 1000 && bytesUnread(sock) < answer; i++) usleep(10000);
    const size_t before = bytesUnread(sock);
    if (before < answer) {
        ubus_free(ctx);
        server.join();
        close(listener);
        GTEST_SKIP() << "only " << before << " bytes could wait in the socket";
    }

    ubus_handle_event(ctx);
    const size_t left = bytesUnread(sock);
    EXPECT_GT(left, 0u) << "one turn read the socket dry";
    EXPECT_LE(before - left, kTurnBound);
    // The rest comes in later turns; the caller's share is served and the connection holds.
    ASSERT_TRUE(runUntil(ctx, [&] { return bytesUnread(sock) == 0 && ctx->state->inbox.empty(); }, 20000));
    EXPECT_TRUE(tally.inOrder);
    EXPECT_GT(tally.next, 0u);
    EXPECT_LT(tally.next, calls) << "the flood's backlog was kept whole";
    EXPECT_FALSE(ctx->sock.eof);
    ubus_free(ctx);
    server.join();
    close(listener);
}

// Only every hundredth event is wanted.
bool everyHundredth(ubus_context *, const char *event, blob_attr *data) {
    static const blobmsg_policy policy[1] = {{"n", BLOBMSG_TYPE_INT32}};
    blob_attr *tb[1] = {};
    blobmsg_parse(policy, 1, tb, blob_data(data), static_cast<unsigned>(blob_len(data)));
    return strcmp(event, "flood") != 0 || (tb[0] && blobmsg_get_u32(tb[0]) % 100 == 0);
}

int methodHundredth(ubus_context *, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) {
    static const blobmsg_policy policy[1] = {{"n", BLOBMSG_TYPE_INT32}};
    blob_attr *tb[1] = {};
    blobmsg_parse(policy, 1, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg)));
    if (req->peer != 0 || !tb[0] || blobmsg_get_u32(tb[0]) != gFlood->next * 100) gFlood->inOrder = false;
    gFlood->next++;
    return UBUS_STATUS_OK;
}

// The same flood, of events the program does not want but one in a hundred: those it does not want
// are dropped as they are read, so that nothing piles up, the synchronous call behind the flood
// gets its answer, and the wanted ones are served, in order.
TEST(UbusClientReplies, EventsTheProgramDoesNotWantAreDroppedAsTheyAreRead) {
    bustest::TempDir dir;
    const std::string path = dir.path + "/stand-in.sock";
    const int listener = standInListener(path);
    ASSERT_GE(listener, 0);
    std::vector<uint8_t> flood;
    const size_t events = floodEvents((8u << 20) + (4u << 20), flood);
    std::thread server([listener, &flood] { serveFlood(listener, flood); });
    ubus_context *ctx = ubus_connect(path.c_str());
    ASSERT_NE(ctx, nullptr);
    ctx->event_wanted = everyHundredth;
    FloodTally tally;
    gFlood = &tally;
    static const ubus_method methods[] = {{nullptr, methodHundredth, 0, 0, nullptr, 0}};
    ubus_object target{};
    ASSERT_NO_FATAL_FAILURE(addFloodTarget(ctx, target, methods));
    ASSERT_EQ(target.id, kFloodTarget);
    uint32_t id = 0;
    EXPECT_EQ(ubus_lookup_id(ctx, "odd", &id), UBUS_STATUS_OK);
    EXPECT_EQ(id, 0x600u);
    // What the hundredth events take (about 100 bytes each), read at once.
    EXPECT_LE(ctx->state->inbox.brokerBytes, 128u << 10);
    const size_t wanted = (events + 99) / 100;
    EXPECT_TRUE(runUntil(ctx, [&] { return tally.next >= wanted; }, 20000)) << tally.next << " of " << wanted;
    EXPECT_TRUE(tally.inOrder);
    ubus_free(ctx);
    server.join();
    close(listener);
}

}  // namespace

namespace {

// ---- the broker process: its listen queue and clients that stop reading ----

TEST(BrokerProcessLimits, ABurstOfConnectsWaitsInTheListenQueue) {
    BrokerProcess broker;
    ASSERT_EQ(kill(broker.pid, SIGSTOP), 0);  // nothing is accepted while the burst arrives
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, broker.socket.c_str());
    std::vector<int> fds;
    int queued = 0;
    for (int i = 0; i < 200; i++) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) ++queued;
        fds.push_back(fd);
    }
    ASSERT_EQ(kill(broker.pid, SIGCONT), 0);
    EXPECT_EQ(queued, 200);
    for (int fd : fds) close(fd);
}

TEST(BrokerProcessLimits, AClientThatStopsReadingIsNamedOnceASecondNotPerMessage) {
    bustest::TempDir dir;
    const std::string socket = dir.path + "/ubus.sock";
    const std::string errPath = dir.path + "/ubusd.err";
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(errFd, 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(errFd, STDERR_FILENO);
        execl(UBUSD_PATH, UBUSD_PATH, "-s", socket.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(errFd);
    ubus_context *sender = nullptr;
    for (int i = 0; i < 500 && !sender; i++) {
        sender = ubus_connect(socket.c_str());
        if (!sender) usleep(10000);
    }
    ASSERT_NE(sender, nullptr);
    // A listener that registers and then never reads again.
    ubus_context *deaf = ubus_connect(socket.c_str());
    ASSERT_NE(deaf, nullptr);
    static ubus_event_handler handler{};
    handler.cb = [](ubus_context *, ubus_event_handler *, const char *, blob_attr *) {};
    ASSERT_EQ(ubus_register_event_handler(deaf, &handler, "flood"), UBUS_STATUS_OK);
    blob_buf b{};
    blobmsg_buf_init(&b);
    blobmsg_add_string(&b, "pad", std::string(2000, 'x').c_str());
    for (int i = 0; i < 6000; i++) ubus_send_event(sender, "flood", b.head);
    blob_buf_free(&b);
    ASSERT_TRUE(runUntil(sender, [] { return false; }, 200) == false);
    ubus_free(sender);
    ubus_free(deaf);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream err(errPath);
    std::string line;
    int lines = 0;
    while (std::getline(err, line)) lines += line.find("is not reading") != std::string::npos ? 1 : 0;
    EXPECT_GE(lines, 1);   // 12 MB sent, 4 MB kept: the drops are reported
    EXPECT_LE(lines, 30);  // ...but not thousands of times
}

// The broker reads a client that never stops sending in turn with the others, one read at a
// time: a listener's own request, waiting behind the burst of events that client sends, is
// answered after a few reads of them, not after all it had sent. (The flood tests cannot tell:
// their clients wait for answers, so their sockets run dry at once.)
TEST(BrokerProcessLimits, AClientThatSendsWithoutPauseIsReadInTurnWithTheOthers) {
    BrokerProcess broker;
    RawCaller listener(broker.socket);
    ubuswire::Builder anonymous;
    listener.send(UBUS_MSG_ADD_OBJECT, 1, 0, anonymous);
    ASSERT_TRUE(listener.await(1));
    blob_buf args{};
    blobmsg_buf_init(&args);
    blobmsg_add_u32(&args, "object", listener.lastObject);
    blobmsg_add_string(&args, "pattern", "blast");
    ubuswire::Builder reg;
    reg.u32(UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_EVENT).string(UBUS_ATTR_METHOD, "register");
    reg.nested(UBUS_ATTR_DATA, blob_data(args.head), blob_len(args.head));
    blob_buf_free(&args);
    listener.send(UBUS_MSG_INVOKE, 2, UBUS_SYSTEM_OBJECT_EVENT, reg);
    ASSERT_TRUE(listener.await(2));
    ASSERT_EQ(listener.statuses[2], std::vector<int>{UBUS_STATUS_OK});

    // The sender's events wait in its socket while the broker is stopped; so does, after them,
    // the listener's ping.
    RawCaller sender(broker.socket);
    int room = 2 << 20;
    if (setsockopt(sender.fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
        setsockopt(sender.fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    blob_buf event{};
    blobmsg_buf_init(&event);
    blobmsg_add_string(&event, "id", "blast");
    blobmsg_close_table(&event, blobmsg_open_table(&event, "data"));
    ubuswire::Builder send;
    send.u32(UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_EVENT).string(UBUS_ATTR_METHOD, "send");
    send.nested(UBUS_ATTR_DATA, blob_data(event.head), blob_len(event.head));
    blob_buf_free(&event);
    const std::vector<uint8_t> one = send.frame(UBUS_MSG_INVOKE, 1, UBUS_SYSTEM_OBJECT_EVENT);
    std::vector<uint8_t> chunk;
    while (chunk.size() + one.size() <= 16384) chunk.insert(chunk.end(), one.begin(), one.end());
    ASSERT_EQ(kill(broker.pid, SIGSTOP), 0);
    size_t queued = 0;
    while (queued < (3u << 19) && ::send(sender.fd, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
                                      static_cast<ssize_t>(chunk.size()))
        queued += chunk.size();
    ubuswire::Builder ping;
    listener.send(UBUS_MSG_PING, 3, 0, ping);
    ASSERT_EQ(kill(broker.pid, SIGCONT), 0);
    ASSERT_TRUE(listener.await(3));
    const size_t sent = queued / one.size(), perRead = 65536 / one.size();
    // The broker may find the sender ready alone once or twice as it comes back.
    if (sent < 16 * perRead) GTEST_SKIP() << "only " << queued << " bytes could wait in the sender's socket";
    EXPECT_LE(listener.invokesBefore[3], 4 * perRead) << "of " << sent << " events sent";
}

}  // namespace

// ---- the queue of calls waiting to be served ----

namespace {

using ubuslib::CallQueue;

ubuswire::Message callFrom(uint32_t caller, uint16_t seq) {
    ubuswire::Message m;
    m.peer = caller;
    m.seq = seq;
    return m;
}

// Pushes one call; returns "caller/seq" of the call given up for it, or "" when none was.
std::string push(CallQueue &q, uint32_t caller, uint16_t seq) {
    ubuswire::Message refused;
    if (!ubuslib::callQueuePush(q, callFrom(caller, seq), refused)) return "";
    return std::to_string(refused.peer) + "/" + std::to_string(refused.seq);
}

std::string popAll(CallQueue &q) {
    std::string order;
    ubuswire::Message m;
    while (ubuslib::callQueuePop(q, m)) order += std::to_string(m.peer) + "/" + std::to_string(m.seq) + " ";
    return order;
}

}  // namespace

// Which call is given up when there is no room: the newest of the caller with the most waiting,
// the new call itself when its caller is (or ties with) that caller, and a caller's own call
// beyond its share.
TEST(UbusCallQueue, TheCallGivenUpIsTheNewestOfTheCallerWithTheMostWaiting) {
    CallQueue q;
    q.maxTotal = 6;
    q.maxPerCaller = 4;
    for (uint16_t s = 1; s <= 4; s++) EXPECT_EQ(push(q, 1, s), "");
    EXPECT_EQ(push(q, 1, 5), "1/5");  // beyond its own share
    EXPECT_EQ(push(q, 2, 1), "");
    EXPECT_EQ(push(q, 2, 2), "");     // full now: 1 has 4, 2 has 2
    EXPECT_EQ(push(q, 3, 1), "1/4");  // room made by the one with the most
    EXPECT_EQ(push(q, 3, 2), "1/3");  // 1 has 2, 2 has 2, 3 has 2
    EXPECT_EQ(push(q, 3, 3), "3/3");  // a tie with the most: the new call goes
    // Three callers tie with the most: one of them loses its newest.
    const std::string lost = push(q, 4, 1);
    EXPECT_TRUE(lost == "1/2" || lost == "2/2" || lost == "3/2") << lost;
    EXPECT_EQ(q.count, 6u);
    // In turn between the callers, each caller's calls in their order.
    std::string order = "1/1 2/1 3/1 4/1 1/2 2/2 3/2 ";
    order.erase(order.find(lost + " "), lost.size() + 1);
    EXPECT_EQ(popAll(q), order);
    EXPECT_EQ(q.count, 0u);
    EXPECT_TRUE(q.bySize.empty());
    EXPECT_EQ(push(q, 2, 9), "");
    EXPECT_EQ(popAll(q), "2/9 ");
    // A call that would give its caller as many waiting as the most is a tie: it goes itself,
    // rather than trading places with another caller's newest.
    q.maxTotal = 3;
    EXPECT_EQ(push(q, 1, 1), "");
    EXPECT_EQ(push(q, 1, 2), "");
    EXPECT_EQ(push(q, 2, 1), "");
    EXPECT_EQ(push(q, 2, 2), "2/2");
    EXPECT_EQ(popAll(q), "1/1 2/1 1/2 ");
}
