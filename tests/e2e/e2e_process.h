// Whole-process test support: child processes whose output is captured and searched with
// bounded waits, private temporary directories, and a small in-process ubus client.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

struct ubus_context;
struct blob_attr;

namespace e2e {

using namespace std::chrono_literals;

// A child process with its standard output and error captured into one buffer.
class Process {
 public:
  Process(const std::string& name, const std::vector<std::string>& argv,
          const std::map<std::string, std::string>& env = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Waits until the output holds `text` at least `count` times.
  bool waitFor(const std::string& text, std::chrono::milliseconds timeout = 5000ms,
               int count = 1);
  int count(const std::string& text);
  std::string output();
  // Sends a signal and waits for the exit; returns the exit status, or 128 + signal.
  int stop(int sig, std::chrono::milliseconds timeout = 10000ms);
  // Waits for an exit without signalling; -1 when it did not exit in time.
  int waitExit(std::chrono::milliseconds timeout);
  bool running();
  pid_t pid() const { return pid_; }

 private:
  void readLoop();
  void takeInLocked();

  std::string name_;
  pid_t pid_ = -1;
  int outFd_ = -1;
  int status_ = -1;
  bool exited_ = false;
  std::mutex lock_;
  std::string out_;
  bool eof_ = false;  // under lock_
  std::thread reader_;
};

// A private directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// Runs the board control program `bin` as `bin -s <socket> <command words>` and returns its
// answer.
std::string boardctl(const std::string& bin, const std::string& socket, const std::string& command,
                     const std::map<std::string, std::string>& env);

// The standard output of a shell command.
std::string shell(const std::string& command);

// A ubus client on its own thread-free context: calls are synchronous with a time-out.
class UbusClient {
 public:
  explicit UbusClient(const std::string& socketPath);
  ~UbusClient();
  bool connected() const { return ctx_ != nullptr; }
  // Calls `method` of `object` with a JSON argument; returns the ubus status and the reply as
  // JSON ("" when there was none).
  int call(const std::string& object, const std::string& method, const std::string& json,
           std::string* reply = nullptr, int timeoutMs = 20000);
  bool lookup(const std::string& object);
  // Subscribes to events matching `pattern`; received events are appended to events().
  bool listen(const std::string& pattern);
  // Processes what arrived on the socket for up to `wait`.
  void pump(std::chrono::milliseconds wait);
  std::vector<std::string> events();

 private:
  struct Listener;
  struct ubus_context* ctx_ = nullptr;
  std::vector<std::unique_ptr<Listener>> listeners_;
  std::vector<std::string> events_;
};


}  // namespace e2e
