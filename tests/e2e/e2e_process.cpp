#include "e2e_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libubox/blobmsg_json.h>
#include <libubus.h>

namespace e2e {

Process::Process(const std::string& name, const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env)
    : name_(name) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    fprintf(stderr, "exec %s failed: %s\n", args[0], strerror(errno));
    _exit(127);
  }
  close(fds[1]);
  outFd_ = fds[0];
  fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
  reader_ = std::thread([this] { readLoop(); });
}

Process::~Process() {
  if (running()) stop(SIGKILL, 5000ms);
  if (reader_.joinable()) reader_.join();
  if (outFd_ >= 0) close(outFd_);
}

// Every read of the pipe is made under the lock, by the reader thread or by a look at the output,
// so that what the process wrote before a look is in it, in the order written.
void Process::readLoop() {
  for (;;) {
    pollfd pfd{outFd_, POLLIN, 0};
    if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return;
    std::lock_guard<std::mutex> g(lock_);
    takeInLocked();
    if (eof_) return;
  }
}

// Takes in what the pipe holds now (the pipe's read end does not block).
void Process::takeInLocked() {
  char buf[4096];
  while (!eof_) {
    const ssize_t n = read(outFd_, buf, sizeof(buf));
    if (n > 0) {
      out_.append(buf, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      eof_ = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
      return;
    }
  }
}

static int countIn(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (size_t pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + needle.size()))
    n++;
  return n;
}

bool Process::waitFor(const std::string& text, std::chrono::milliseconds timeout, int count) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (this->count(text) >= count) return true;
    std::this_thread::sleep_for(10ms);
  }
  return this->count(text) >= count;
}

// A line the process wrote before it answered the test elsewhere (a bus reply, another process's
// output) is counted even when the reader thread has not run since.
int Process::count(const std::string& text) {
  std::lock_guard<std::mutex> g(lock_);
  takeInLocked();
  return countIn(out_, text);
}

std::string Process::output() {
  std::lock_guard<std::mutex> g(lock_);
  takeInLocked();
  return out_;
}

bool Process::running() {
  if (pid_ <= 0 || exited_) return false;
  int st;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    exited_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  return true;
}

int Process::waitExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
  if (reader_.joinable()) reader_.join();
  return status_;
}

int Process::stop(int sig, std::chrono::milliseconds timeout) {
  if (running()) kill(pid_, sig);
  int st = waitExit(timeout);
  if (st == -1) {
    kill(pid_, SIGKILL);
    st = waitExit(5000ms);
  }
  return st;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/orvox-e2e-XXXXXX";
  if (mkdtemp(tmpl)) path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::filesystem::create_directories(std::filesystem::path(file(name)).parent_path());
  std::ofstream(file(name)) << content;
}

struct UbusClient::Listener {
  struct ubus_event_handler handler {};
  UbusClient* owner = nullptr;
};

UbusClient::UbusClient(const std::string& socketPath) {
  for (int i = 0; i < 200 && !ctx_; i++) {
    ctx_ = ubus_connect(socketPath.c_str());
    if (!ctx_) std::this_thread::sleep_for(20ms);
  }
}

UbusClient::~UbusClient() {
  if (ctx_) ubus_free(ctx_);
}

namespace {
void collectReply(struct ubus_request* req, int, struct blob_attr* msg) {
  auto* out = static_cast<std::string*>(req->priv);
  char* json = blobmsg_format_json(msg, true);
  if (out && json) *out = json;
  free(json);
}
}  // namespace

int UbusClient::call(const std::string& object, const std::string& method,
                     const std::string& json, std::string* reply, int timeoutMs) {
  if (!ctx_) return -1;
  uint32_t id;
  int st = ubus_lookup_id(ctx_, object.c_str(), &id);
  if (st != 0) return st;
  struct blob_buf b {};
  blob_buf_init(&b, 0);
  if (!json.empty() && !blobmsg_add_json_from_string(&b, json.c_str())) {
    blob_buf_free(&b);
    return -1;
  }
  std::string local;
  st = ubus_invoke(ctx_, id, method.c_str(), b.head, collectReply, reply ? reply : &local,
                   timeoutMs);
  blob_buf_free(&b);
  return st;
}

bool UbusClient::lookup(const std::string& object) {
  uint32_t id;
  return ctx_ && ubus_lookup_id(ctx_, object.c_str(), &id) == 0;
}

bool UbusClient::listen(const std::string& pattern) {
  if (!ctx_) return false;
  auto l = std::make_unique<Listener>();
  l->owner = this;
  l->handler.cb = [](struct ubus_context*, struct ubus_event_handler* ev, const char* type,
                     struct blob_attr* msg) {
    auto* self = reinterpret_cast<Listener*>(ev);
    char* json = blobmsg_format_json(msg, true);
    self->owner->events_.push_back(std::string(type) + " " + (json ? json : "{}"));
    free(json);
  };
  if (ubus_register_event_handler(ctx_, &l->handler, pattern.c_str()) != 0) return false;
  listeners_.push_back(std::move(l));
  return true;
}

void UbusClient::pump(std::chrono::milliseconds wait) {
  if (!ctx_) return;
  auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    struct pollfd pfd {ctx_->sock.fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) > 0) ubus_handle_event(ctx_);
  }
}

std::vector<std::string> UbusClient::events() { return events_; }

std::string boardctl(const std::string& bin, const std::string& socket, const std::string& command,
                     const std::map<std::string, std::string>& env) {
  std::vector<std::string> args{bin, "-s", socket};
  std::stringstream words(command);
  for (std::string w; words >> w;) args.push_back(w);
  Process ctl("boardctl", args, env);
  ctl.waitExit(5000ms);
  return ctl.output();
}

std::string shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace e2e
