// The "uci" service as a process behind a real broker: replies, statuses, files changed by
// delete and commit, and bad input from the command-line client and in configuration files.
#include <libubox/blobmsg_json.h>

#include <dirent.h>

#include <fstream>
#include <sstream>

#include "bus_fixture.h"
#include "uci_config.h"

namespace {

using bustest::BrokerProcess;
using bustest::spawnProcess;
using bustest::stopProcess;
using bustest::TempDir;

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

struct CliRun {
    int exit = -1;
    std::string out, err;
};

class UciServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        confDir = work.path + "/config";
        mkdir(confDir.c_str(), 0755);
        writeFile(confDir + "/asterisk", readFile(std::string(ORVOX_SOURCE_DIR) + "/platform/uci/examples/asterisk"));
        service = spawnProcess({UCI_SERVICE_PATH, "-s", broker.socket, confDir}, (work.path + "/service.out").c_str());
        ctx = ubus_connect(broker.socket.c_str());
        ASSERT_NE(ctx, nullptr);
        for (int i = 0; i < 500 && ubus_lookup_id(ctx, "uci", &uciId) != 0; i++) usleep(10000);
        ASSERT_NE(uciId, 0u);
    }
    void TearDown() override {
        if (ctx) ubus_free(ctx);
        stopProcess(service);
    }

    CliRun cli(const std::vector<std::string> &args) {
        std::string cmd = std::string(UBUS_CLI_PATH) + " -s '" + broker.socket + "'";
        for (const std::string &a : args) cmd += " '" + a + "'";
        cmd += " >'" + work.path + "/cli.out' 2>'" + work.path + "/cli.err'";
        CliRun r;
        int status = system(cmd.c_str());
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(work.path + "/cli.out");
        r.err = readFile(work.path + "/cli.err");
        return r;
    }

    // Calls a method; returns the status and the replies as compact JSON.
    int call(const char *method, const char *json, std::vector<std::string> *replies = nullptr) {
        blob_buf b{};
        blobmsg_buf_init(&b);
        EXPECT_TRUE(blobmsg_add_json_from_string(&b, json));
        std::vector<std::string> got;
        int ret = ubus_invoke(ctx, uciId, method, b.head,
                              [](ubus_request *req, int, blob_attr *msg) {
                                  char *text = blobmsg_format_json(msg, true);
                                  static_cast<std::vector<std::string> *>(req->priv)->push_back(text ? text : "");
                                  free(text);
                              },
                              &got, 5000);
        blob_buf_free(&b);
        if (replies) *replies = got;
        return ret;
    }

    BrokerProcess broker;
    TempDir work;
    std::string confDir;
    pid_t service = -1;
    ubus_context *ctx = nullptr;
    uint32_t uciId = 0;
};

TEST_F(UciServiceTest, CommandLineGetPrintsTheValue) {
    CliRun r = cli({"call", "uci", "get", R"({"config":"asterisk","section":"TEL","option":"country"})"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "{\n\t\"value\": \"SWE\"\n}\n");
    CliRun simple = cli({"-S", "call", "uci", "get", R"({"config":"asterisk","section":"telline1","option":"name"})"});
    EXPECT_EQ(simple.out, "{\"value\":\"Phone 1\"}\n");
    CliRun list = cli({"list"});
    EXPECT_EQ(list.out, "uci\n");
    CliRun verbose = cli({"-v", "list", "uci"});
    char expected[512];
    snprintf(expected, sizeof expected,
             "'uci' @%08x\n"
             "\t\"get\":{\"config\":\"String\",\"section\":\"String\",\"option\":\"String\"}\n"
             "\t\"delete\":{\"config\":\"String\",\"section\":\"String\",\"option\":\"String\",\"options\":\"Array\"}\n"
             "\t\"commit\":{\"config\":\"String\"}\n",
             uciId);
    EXPECT_EQ(verbose.out, expected);
    CliRun nothing = cli({"call", "uci", "get", R"({"config":"asterisk","section":"nosuch"})"});
    EXPECT_EQ(nothing.exit, 0);
    EXPECT_EQ(nothing.out, "");
}

TEST_F(UciServiceTest, CommandLineListenPrintsEventsSentByAnother) {
    const std::string out = work.path + "/listen.out";
    pid_t listener = spawnProcess({UBUS_CLI_PATH, "-s", broker.socket, "-t", "20", "listen", "test.*"}, out.c_str());
    // Events sent before the listener has registered are not delivered: send until one is.
    std::string seen;
    for (int i = 0; i < 500 && seen.empty(); i++) {
        cli({"send", "test.ev", R"({"a":1})"});
        usleep(10000);
        seen = readFile(out);
    }
    stopProcess(listener);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.substr(0, seen.find('\n') + 1), "{ \"test.ev\": {\"a\":1} }\n");
}

TEST_F(UciServiceTest, CommandLineReportsBadJsonAndMissingObjects) {
    CliRun bad = cli({"call", "uci", "get", "{\"config\":"});
    EXPECT_EQ(bad.exit, 244);
    EXPECT_EQ(bad.err, "Command failed: ubus call uci get {\"config\": (Parsing message data failed)\n");
    CliRun absent = cli({"call", "nosuch", "get"});
    EXPECT_EQ(absent.exit, 4);
    EXPECT_EQ(absent.err, "Command failed: Not found\n");
    CliRun missingConfig = cli({"call", "uci", "get", R"({"config":"nosuch"})"});
    EXPECT_EQ(missingConfig.exit, 252);
    CliRun noArgs = cli({"call", "uci", "get", "{}"});
    EXPECT_EQ(noArgs.exit, 254);  // status 2: the message and the usage text
    EXPECT_EQ(noArgs.err.rfind("Command failed: ubus call uci get {} (Invalid argument)\nUsage:", 0), 0u);
    CliRun usage = cli({"frobnicate"});
    EXPECT_EQ(usage.exit, 254);
    CliRun badSend = cli({"send", "x", "[1]"});
    EXPECT_EQ(badSend.exit, 12);
    EXPECT_EQ(badSend.err, "Command failed: Parsing message data failed\n");
}

TEST_F(UciServiceTest, GetRepliesWithValueValuesOrNothing) {
    std::vector<std::string> r;
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"telline0"})", &r), 0);
    EXPECT_EQ(r, (std::vector<std::string>{
                     R"({"values":{".anonymous":false,".type":"tel_line",".name":"telline0","name":"DECT 1",)"
                     R"("noise":"0","echo_cancel":"1","vad":"0","txgain":"0","rxgain":"0"}})"}));
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"@tel_line[2]","option":"name"})", &r), 0);
    EXPECT_EQ(r, (std::vector<std::string>{R"({"value":"Phone 2"})"}));
    EXPECT_EQ(call("get", R"({"config":"asterisk"})", &r), 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(r[0].find(R"("telline2":{".anonymous":false,".type":"tel_line",".name":"telline2",".index":3,)"),
              std::string::npos);
    // A missing section or option is no data with status 0; a missing file is "not found".
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"telline9"})", &r), 0);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"TEL","option":"nosuch"})", &r), 0);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(call("get", R"({"config":"missing"})"), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(call("get", R"({"section":"TEL"})"), UBUS_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(call("get", R"({"config":"../config/asterisk"})"), UBUS_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(call("get", R"({"config":7})"), UBUS_STATUS_INVALID_ARGUMENT);
}

bool onlyFileIs(const std::string &dir, const std::string &name) {
    DIR *d = opendir(dir.c_str());
    bool ok = true;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != name) ok = false;
    }
    closedir(d);
    return ok;
}

TEST_F(UciServiceTest, DeleteIsPendingUntilCommitRewritesTheFile) {
    const std::string path = confDir + "/asterisk";
    const std::string before = readFile(path);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline0"})"), 0);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline1","option":"vad"})"), 0);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline1","option":"vad"})"), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline2","options":["vad","nosuch","noise"]})"), 0);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline2","options":["nosuch"]})"), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"telline0"})"), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(call("delete", R"({"config":"asterisk","section":"bad-name"})"), UBUS_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(call("delete", R"({"config":"asterisk"})"), UBUS_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(call("delete", R"({"config":"missing","section":"x"})"), UBUS_STATUS_NOT_FOUND);
    // Pending deletions already show, but the file is untouched.
    std::vector<std::string> r;
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"telline0"})", &r), 0);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(call("commit", R"({"config":"asterisk"})"), 0);
    EXPECT_EQ(readFile(path),
              "\nconfig tel_options 'TEL'\n\toption country 'SWE'\n"
              "\nconfig tel_line 'telline1'\n\toption name 'Phone 1'\n\toption noise '1'\n\toption echo_cancel '1'\n"
              "\toption txgain '0'\n\toption rxgain '0'\n"
              "\nconfig tel_line 'telline2'\n\toption name 'Phone 2'\n\toption echo_cancel '1'\n"
              "\toption txgain '0'\n\toption rxgain '0'\n"
              "\nconfig tel_line 'telline3'\n\toption name 'Exchange 1'\n\toption noise '0'\n"
              "\toption echo_cancel '1'\n\toption vad '0'\n\toption txgain '0'\n\toption rxgain '0'\n\n");
    EXPECT_TRUE(onlyFileIs(confDir, "asterisk"));  // no temporary file left behind
    EXPECT_EQ(call("commit", R"({"config":"asterisk"})"), 0);  // nothing pending
    EXPECT_EQ(call("commit", R"({"config":"missing"})"), UBUS_STATUS_NOT_FOUND);
    EXPECT_EQ(call("commit", R"({})"), UBUS_STATUS_INVALID_ARGUMENT);
}

TEST_F(UciServiceTest, MalformedOrUnreadableFilesGiveAnErrorAndTheServiceGoesOn) {
    writeFile(confDir + "/broken", "config line 'a\n");
    EXPECT_EQ(call("get", R"({"config":"broken"})"), UBUS_STATUS_UNKNOWN_ERROR);
    EXPECT_EQ(call("delete", R"({"config":"broken","section":"a"})"), UBUS_STATUS_UNKNOWN_ERROR);
    writeFile(confDir + "/huge", std::string(uci::kMaxFileSize + 10, '#'));
    EXPECT_EQ(call("get", R"({"config":"huge"})"), UBUS_STATUS_UNKNOWN_ERROR);
    mkdir((confDir + "/adir").c_str(), 0755);
    EXPECT_EQ(call("get", R"({"config":"adir"})"), UBUS_STATUS_UNKNOWN_ERROR);
    std::vector<std::string> r;
    EXPECT_EQ(call("get", R"({"config":"asterisk","section":"TEL","option":"country"})", &r), 0);
    EXPECT_EQ(r, (std::vector<std::string>{R"({"value":"SWE"})"}));
}

TEST(UciServiceStart, MissingDirectoryOrBusIsAClearFailure) {
    TempDir work;
    std::string cmd = std::string(UCI_SERVICE_PATH) + " -s '" + work.path + "/none.sock' '" + work.path + "' 2>'" +
                      work.path + "/err'";
    EXPECT_EQ(WEXITSTATUS(system(cmd.c_str())), 1);
    EXPECT_EQ(readFile(work.path + "/err"), "uci_service: Failed to connect to ubus\n");
    cmd = std::string(UCI_SERVICE_PATH) + " '" + work.path + "/nodir' 2>'" + work.path + "/err'";
    EXPECT_EQ(WEXITSTATUS(system(cmd.c_str())), 1);
    EXPECT_EQ(readFile(work.path + "/err"), "uci_service: cannot use configuration directory " + work.path + "/nodir\n");
}

}  // namespace
