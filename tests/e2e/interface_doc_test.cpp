// The documented interface, run as written: every `console` block of docs/*.md that carries a
// "<!-- doc-test: ... -->" line is played against orvoxd on the virtual board through this tree's
// `ubus` and `boardctl` programs, and each answer, failure and event must be the one the document
// shows. A second case holds the document to the methods and arguments the running daemon
// registers, so that neither side can change alone; a third holds the sample configuration that
// configuration.md shows whole to the shipped file, byte for byte.
//
// A block's commands: "$ ubus call ..." (its reply JSON, "Command failed: <text>" and the exit
// status a script sees are compared), "$ boardctl ..." (must succeed), "$ ubus listen <type> &"
// (a listener whose events, shown as one-line JSON after later commands, must arrive in that
// order).
#include <json-c/json.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "board_daemon_fixture.h"

namespace e2e {
namespace {

const char* const kStatusTexts[] = {"Success",          "Invalid command",      "Invalid argument",
                                    "Method not found", "Not found",            "No response",
                                    "Permission denied", "Request timed out",   "Operation not supported",
                                    "Unknown error",    "Connection failed"};

struct DocCommand {
  std::string line;                   // as written after "$ "
  std::vector<std::string> expected;  // the lines shown under it
};

struct DocBlock {
  std::string name;  // the section it documents, for the test's name
  std::string where;  // file:line, for failures
  std::set<std::string> peers;
  bool hasDect = false;
  std::vector<DocCommand> commands;
};

// Names the block in the test's listing.
void PrintTo(const DocBlock& block, std::ostream* os) { *os << block.where; }

std::vector<std::string> docFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(ORVOX_SOURCE_DIR "/docs"))
    if (entry.path().extension() == ".md") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string identifier(const std::string& text) {
  std::string id;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) id += c;
    else if (!id.empty() && id.back() != '_') id += '_';
  }
  while (!id.empty() && id.back() == '_') id.pop_back();
  return id.empty() ? "block" : id;
}

// "peers=pbx,dect hasDect=1"; false for anything it does not know.
bool parseMarker(const std::string& text, DocBlock* block) {
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    if (key == "peers") {
      std::istringstream names(value);
      std::string peer;
      while (std::getline(names, peer, ',')) {
        if (peer != "pbx" && peer != "dect") return false;
        block->peers.insert(peer);
      }
    } else if (key == "hasDect" && (value == "0" || value == "1")) {
      block->hasDect = value == "1";
    } else {
      return false;
    }
  }
  return true;
}

std::vector<DocBlock> loadBlocks() {
  std::vector<DocBlock> blocks;
  std::map<std::string, int> names;
  const std::regex marker(R"(^<!-- doc-test:(.*)-->\s*$)");
  for (const std::string& file : docFiles()) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::string heading = std::filesystem::path(file).stem().string();
    for (size_t i = 0; i < lines.size(); i++) {
      if (lines[i].rfind("#", 0) == 0) heading = lines[i].substr(lines[i].find_first_not_of("# "));
      std::smatch m;
      if (!std::regex_match(lines[i], m, marker)) continue;
      DocBlock block;
      block.where = std::filesystem::path(file).filename().string() + ":" + std::to_string(i + 1);
      std::string base = identifier(std::filesystem::path(file).stem().string() + " " + heading);
      int n = ++names[base];
      block.name = n == 1 ? base : base + "_" + std::to_string(n);
      // An unreadable marker or a marker without its block is kept as a block without commands,
      // which fails: a typo must not switch a block's test off.
      if (parseMarker(m[1].str(), &block) && i + 1 < lines.size() && lines[i + 1] == "```console") {
        for (i += 2; i < lines.size() && lines[i] != "```"; i++) {
          if (lines[i].rfind("$ ", 0) == 0) block.commands.push_back({lines[i].substr(2), {}});
          else if (!block.commands.empty()) block.commands.back().expected.push_back(lines[i]);
        }
      }
      blocks.push_back(block);
    }
  }
  return blocks;
}

// Words of a documented command line: blanks separate, single quotes group.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '\'') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) out.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) out.push_back(word);
  return out;
}

struct JsonPtr {
  json_object* obj = nullptr;
  explicit JsonPtr(const std::string& text) : obj(json_tokener_parse(text.c_str())) {}
  ~JsonPtr() { json_object_put(obj); }
  JsonPtr(const JsonPtr&) = delete;
  JsonPtr& operator=(const JsonPtr&) = delete;
};

bool sameJson(const std::string& a, const std::string& b) {
  JsonPtr x(a), y(b);
  return x.obj && y.obj && json_object_equal(x.obj, y.obj);
}

// A call's combined output: the reply before the failure line, and the failure's text.
struct CallResult {
  int exit = -1;
  std::string reply;
  std::string failure;  // "Invalid argument", or "" when the call succeeded
};

CallResult splitCallOutput(const std::string& out, int exit) {
  CallResult r;
  r.exit = exit;
  const size_t failed = out.find("Command failed:");
  r.reply = out.substr(0, failed);
  if (failed != std::string::npos) {
    std::string line = out.substr(failed, out.find('\n', failed) - failed);
    // On a terminal "Command failed: <text>"; into a pipe the command line and "(<text>)".
    const size_t open = line.rfind('(');
    r.failure = open != std::string::npos && line.back() == ')'
                    ? line.substr(open + 1, line.size() - open - 2)
                    : line.substr(std::string("Command failed: ").size());
  }
  return r;
}

// The ubus status of a failure text; -1 for a text the client never prints.
int statusOfText(const std::string& text) {
  for (size_t i = 0; i < std::size(kStatusTexts); i++)
    if (text == kStatusTexts[i]) return static_cast<int>(i);
  return -1;
}

// The exit status of a `ubus call` whose standard error is not a terminal, as in a script (and
// here): 0, or 256 minus the ubus status, as interface.md's table shows.
int scriptExitStatus(const std::string& failure) {
  return failure.empty() ? 0 : (256 - statusOfText(failure)) & 0xff;
}

// The marker of the listener's own probes (see startListener).
const char kProbeKey[] = "doc_test_probe";

class InterfaceDoc : public BoardDaemonFixture, public ::testing::WithParamInterface<DocBlock> {
 protected:
  struct Listener {
    std::string type;
    std::unique_ptr<Process> process;
    size_t seen = 0;  // events of its output already matched
  };
  std::vector<Listener> listeners;

  void SetUp() override { boardShape = "fxs=2,fxo=1,dect=1"; }

  void startSystem(const DocBlock& block) {
    std::ifstream sample(ORVOX_SOURCE_DIR "/platform/uci/examples/asterisk");
    std::stringstream config;
    config << sample.rdbuf();
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(config.str()));
    if (block.peers.count("pbx")) {
      ASSERT_NO_FATAL_FAILURE(startPbx());
    }
    if (block.peers.count("dect")) {
      ASSERT_NO_FATAL_FAILURE(startDect());
    }
    auto env = boardEnv();
    if (block.hasDect) env["hw_board_hasDect"] = "1";
    daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_BIN}, env);
    ASSERT_TRUE(daemon->waitFor("Startup ready!", 30000ms)) << daemon->output();
  }

  std::vector<std::string> argvOf(std::vector<std::string> w) {
    if (w[0] == "ubus") w[0] = UBUS_CLI_BIN;
    else if (w[0] == "boardctl") w[0] = BOARDCTL_BIN;
    return w;
  }

  CallResult run(const std::vector<std::string>& w) {
    Process p(w[0], argvOf(w), boardEnv());
    const int exit = p.waitExit(30000ms);
    return splitCallOutput(p.output(), exit);
  }

  // The listener's events as JSON lines, from the first not yet matched.
  std::vector<std::string> eventLines(Listener& l) {
    std::vector<std::string> lines;
    std::istringstream out(l.process->output());
    for (std::string line; std::getline(out, line);)
      if (line.rfind("{ \"", 0) == 0 && line.find(kProbeKey) == std::string::npos) lines.push_back(line);
    return lines;
  }

  // Starts `ubus listen <type>` and waits until it hears a probe of its own, so that no event of
  // the next command can come before the listener is registered. The probes, however many
  // arrive and however late, are never taken for events: eventLines leaves out their marker.
  void startListener(const std::vector<std::string>& w) {
    ASSERT_EQ(w.size(), 3u) << "a documented listener names one event type";
    Listener l{w[2], std::make_unique<Process>("listen", argvOf(w), boardEnv())};
    const std::string probe = std::string("{\"") + kProbeKey + "\": 1}";
    bool heard = false;
    for (int i = 0; i < 100 && !heard; i++) {
      run({"ubus", "send", l.type, probe});
      heard = l.process->waitFor(kProbeKey, 100ms);
    }
    ASSERT_TRUE(heard) << l.process->output();
    listeners.push_back(std::move(l));
  }

  // The line driver's hook clock of a phone line: ms, advanced by each hook sample the
  // line-signalling task takes; -1 where boardctl shows none (not a phone line).
  int64_t hookClock(const std::string& line) {
    const CallResult r = run({"boardctl", line, "status"});
    static const std::regex clock("hookClock=([0-9]+)");
    std::smatch m;
    return r.exit == 0 && std::regex_search(r.reply, m, clock) ? std::stoll(m[1]) : -1;
  }

  // What a request does to the line (a ring started) the line-signalling task takes up in its
  // next period, after the request has been answered: a phone lifted before that would find the
  // line as it was (idle, not ringing). So the person at the phone acts once two more hook
  // samples have been taken, the first of them in a period that began after the answer.
  void letTheLineCatchUp(const std::string& line) {
    const int64_t start = hookClock(line);
    if (start < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (hookClock(line) < start + 20 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
  }

  // An expected line that is an event of a running listener: one key, the listener's type.
  Listener* listenerOf(const std::string& line) {
    JsonPtr j(line);
    if (!j.obj || !json_object_is_type(j.obj, json_type_object) || json_object_object_length(j.obj) != 1)
      return nullptr;
    for (Listener& l : listeners)
      if (json_object_object_get_ex(j.obj, l.type.c_str(), nullptr)) return &l;
    return nullptr;
  }

  // The listener's next event must be `line`.
  void expectEvent(Listener& l, const std::string& line) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    std::vector<std::string> lines = eventLines(l);
    while (lines.size() <= l.seen && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      lines = eventLines(l);
    }
    ASSERT_GT(lines.size(), l.seen) << "no event came; expected " << line;
    EXPECT_TRUE(sameJson(lines[l.seen], line)) << "event " << lines[l.seen] << "\nexpected " << line;
    l.seen++;
  }

  void runCommand(const DocCommand& cmd) {
    SCOPED_TRACE("$ " + cmd.line);
    std::vector<std::string> w = words(cmd.line);
    ASSERT_FALSE(w.empty());
    ASSERT_TRUE(w[0] == "ubus" || w[0] == "boardctl") << "the documents run ubus and boardctl only";
    if (w.back() == "&") {
      w.pop_back();
      ASSERT_TRUE(w.size() > 1 && w[1] == "listen") << "only a listener runs in the background";
      ASSERT_NO_FATAL_FAILURE(startListener(w));
      return;
    }
    // The lines under the command: its reply and failure, and the events of running listeners.
    std::string reply, failure;
    std::vector<std::pair<Listener*, std::string>> events;
    for (const std::string& line : cmd.expected) {
      if (line.rfind("Command failed: ", 0) == 0) failure = line.substr(16);
      else if (Listener* l = listenerOf(line)) events.emplace_back(l, line);
      else reply += line + "\n";
    }
    const bool call = w.size() > 1 && w[1] == "call";
    if (call) {
      if (!failure.empty()) {
        ASSERT_GE(statusOfText(failure), 0) << failure;
      }
      // What only reads may be asked again while a hook change passes the country's debounce.
      const bool readOnly = w.size() > 3 && (w[3] == "status" || w[3] == "count");
      CallResult r;
      auto deadline = std::chrono::steady_clock::now() + 10s;
      do {
        r = run(w);
        const bool replyMatches = reply.find_first_not_of(" \t\n") == std::string::npos
                                      ? r.reply.find_first_not_of(" \t\n") == std::string::npos
                                      : sameJson(r.reply, reply);
        if (replyMatches && r.failure == failure) break;
        if (readOnly) std::this_thread::sleep_for(50ms);
      } while (readOnly && std::chrono::steady_clock::now() < deadline);
      EXPECT_EQ(r.failure, failure) << "the status differs from the document's";
      if (reply.find_first_not_of(" \t\n") == std::string::npos) {
        EXPECT_EQ(r.reply.find_first_not_of(" \t\n"), std::string::npos) << "unexpected reply " << r.reply;
      } else {
        EXPECT_TRUE(sameJson(r.reply, reply)) << "reply " << r.reply << "\nexpected " << reply;
      }
      EXPECT_EQ(r.exit, scriptExitStatus(failure)) << "the exit status a script sees";
    } else {
      ASSERT_TRUE(reply.empty()) << "output of " << w[0] << " is not compared: show none";
      const bool hookChange = w[0] == "boardctl" && w.size() > 2 &&
                              (w[2] == "offhook" || w[2] == "onhook" || w[2] == "flash");
      if (hookChange) letTheLineCatchUp(w[1]);
      CallResult r = run(w);
      EXPECT_EQ(r.exit, 0) << r.reply;
    }
    for (auto& [listener, line] : events) ASSERT_NO_FATAL_FAILURE(expectEvent(*listener, line));
  }

  void TearDown() override {
    listeners.clear();
    BoardDaemonFixture::TearDown();
  }
};

TEST_P(InterfaceDoc, RunsAsWritten) {
  const DocBlock& block = GetParam();
  SCOPED_TRACE(block.where);
  ASSERT_FALSE(block.commands.empty()) << "a doc-test marker without a readable console block";
  ASSERT_NO_FATAL_FAILURE(startSystem(block));
  for (const DocCommand& cmd : block.commands) ASSERT_NO_FATAL_FAILURE(runCommand(cmd));
}

INSTANTIATE_TEST_SUITE_P(Docs, InterfaceDoc, ::testing::ValuesIn(loadBlocks()),
                         [](const ::testing::TestParamInfo<DocBlock>& info) { return info.param.name; });

using InterfaceDocCoverage = BoardDaemonFixture;

// Every method the daemon registers has an example, and every argument of it is used in one.
TEST_F(InterfaceDocCoverage, ShowsEveryMethodAndArgumentTheDaemonRegisters) {
  boardShape = "fxs=2,fxo=1,dect=1";
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 4)));
  ASSERT_NO_FATAL_FAILURE(startBoardDaemon());
  Process list("ubus", {UBUS_CLI_BIN, "-v", "list", "endpt"}, boardEnv());
  ASSERT_EQ(list.waitExit(10000ms), 0) << list.output();

  std::map<std::string, std::set<std::string>> documented;  // method -> arguments used
  for (const DocBlock& block : loadBlocks()) {
    for (const DocCommand& cmd : block.commands) {
      std::vector<std::string> w = words(cmd.line);
      if (w.size() < 4 || w[0] != "ubus" || w[1] != "call" || w[2] != "endpt") continue;
      std::set<std::string>& args = documented[w[3]];
      if (w.size() < 5) continue;
      JsonPtr j(w[4]);
      ASSERT_TRUE(j.obj) << cmd.line;
      json_object_object_foreach(j.obj, key, value) {
        (void)value;
        args.insert(key);
      }
    }
  }

  // Lines such as:	"signal":{"line":"Integer","signal":"String",...}
  const std::regex methodLine("^\\s*\"([a-z_]+)\":(\\{.*\\})\\s*$");
  std::istringstream out(list.output());
  int methods = 0;
  for (std::string line; std::getline(out, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, methodLine)) continue;
    methods++;
    const std::string method = m[1];
    ASSERT_TRUE(documented.count(method)) << "no example of endpt " << method;
    JsonPtr args(m[2]);
    ASSERT_TRUE(args.obj) << line;
    json_object_object_foreach(args.obj, key, value) {
      (void)value;
      EXPECT_TRUE(documented[method].count(key)) << "no example of endpt " << method << " with " << key;
    }
    documented.erase(method);
  }
  EXPECT_GT(methods, 0) << list.output();
  for (const auto& [method, args] : documented) ADD_FAILURE() << "the documents call endpt " << method << ", which the daemon does not register";
}

using InterfaceDocStartUp = BoardDaemonFixture;

// interface.md, "At the daemon's start": a PBX on the bus before the daemon starts gets one
// EARLY_ONHOOK for each on-hook phone, though no hook changed, no ONHOOK after it, and nothing for
// the DECT and exchange lines. A phone lifted afterwards is the mark: its events come after
// anything the start-up sent.
TEST_F(InterfaceDocStartUp, APbxAlreadyOnTheBusGetsEarlyOnhookAloneForEachOnHookPhone) {
  boardShape = "fxs=2,fxo=1,dect=1";
  std::ifstream sample(ORVOX_SOURCE_DIR "/platform/uci/examples/asterisk");
  std::stringstream config;
  config << sample.rdbuf();
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(config.str()));
  ASSERT_NO_FATAL_FAILURE(startPbx());
  auto env = boardEnv();
  env["hw_board_hasDect"] = "1";
  daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_BIN}, env);
  ASSERT_TRUE(daemon->waitFor("Startup ready!", 30000ms)) << daemon->output();
  EXPECT_TRUE(pbx->waitFor("event EARLY_ONHOOK data=0 line=1")) << pbx->output();
  EXPECT_TRUE(pbx->waitFor("event EARLY_ONHOOK data=0 line=2")) << pbx->output();
  board("1 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=1")) << pbx->output();
  EXPECT_EQ(pbx->count("event EARLY_ONHOOK "), 2) << pbx->output();
  EXPECT_EQ(pbx->count("event ONHOOK "), 0) << pbx->output();
  EXPECT_EQ(pbx->count("line=0"), 0) << pbx->output();
  EXPECT_EQ(pbx->count("line=3"), 0) << pbx->output();
}

// configuration.md shows the sample whole: its block, blank lines included, is the file.
TEST(ConfigurationDoc, ShowsTheShippedSampleWhole) {
  std::ifstream doc(ORVOX_SOURCE_DIR "/docs/configuration.md");
  std::string line, block;
  bool inSection = false, inBlock = false, closed = false;
  while (!closed && std::getline(doc, line)) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## The sample";
    else if (inSection && line.rfind("```", 0) == 0) {
      closed = inBlock;
      inBlock = true;
    } else if (inBlock) {
      block += line + "\n";
    }
  }
  ASSERT_TRUE(closed) << "no code block under \"## The sample\" in configuration.md";
  std::ifstream sample(ORVOX_SOURCE_DIR "/platform/uci/examples/asterisk");
  const std::string file{std::istreambuf_iterator<char>(sample), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(block, file);
}

}  // namespace
}  // namespace e2e
