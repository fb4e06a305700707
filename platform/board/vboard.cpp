// Descriptors, configuration and the DSP driver's requests.

#include "vboard.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "envFlag.h"
#include "vboardInternal.h"

namespace vboard {

int64_t nowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void releaseDescriptor(Descriptor* d) {
  if (d->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete d;
}

Board& board() {
  // Never destroyed: the control socket's thread may be inside a command (a step waiting for its
  // tick) when the process exits.
  static Board* instance = new Board;
  return *instance;
}

int fail(int error) {
  errno = error;
  return -1;
}

void configure(Board& b) {
  if (b.configured) return;
  b.configured = true;
  b.startMs = nowMs();
  const char* text = std::getenv("ORVOX_BOARD");
  std::string error;
  if (text != nullptr && !vboardParseConfig(text, &b.config, &error)) {
    std::fprintf(stderr, "virtual board: ORVOX_BOARD: %s; using fxs=2,fxo=1,dect=1\n",
                 error.c_str());
    b.config = VBOARD_CONFIG{};
  }
  const char* tick = std::getenv("ORVOX_TICK");
  b.fastTicks = tick != nullptr && std::strcmp(tick, "fast") == 0;
  b.timeTicks = b.fastTicks || envFlagOn("ORVOX_TICK_PROFILE");
  auto add = [&](dh_type type, dh_sample_rate rate) {
    Channel ch;
    ch.type = type;
    ch.rate = rate;
    b.channels.push_back(std::move(ch));
  };
  // DECT channels come first, as the daemon's line table expects (it hides them by skipping
  // the first entries while no DECT manager is present), then the phones, then the exchange lines.
  for (int i = 0; i < b.config.dect; ++i) add(DSPHAL_TYPE_DECT, DSPHAL_RATE_8KHZ);
  for (int i = 0; i < b.config.fxs; ++i) {
    add(DSPHAL_TYPE_FXS, b.config.wideband ? DSPHAL_RATE_16KHZ : DSPHAL_RATE_8KHZ);
  }
  for (int i = 0; i < b.config.fxo; ++i) add(DSPHAL_TYPE_FXO, DSPHAL_RATE_8KHZ);
  startControlServer();
}

int dsphalIoctl(Board& b, Descriptor& d, uint32_t request, unsigned long arg) {
  const int numChannels = static_cast<int>(b.channels.size());
  auto validId = [&](long id) { return id >= 0 && id < numChannels; };
  switch (request) {
    case DSPHAL_CMD_GETNUMEPT:
      return numChannels;
    case DSPHAL_CMD_GETCHANCFG: {
      auto* cfg = reinterpret_cast<dsphal_chancfg*>(arg);
      if (cfg == nullptr) return fail(EFAULT);
      if (!validId(cfg->id)) return fail(EINVAL);
      const Channel& ch = b.channels[cfg->id];
      cfg->type = ch.type;
      cfg->interface = 0;
      cfg->rate = ch.rate;
      cfg->enabled = ch.enabled ? 1 : 0;
      return 0;
    }
    case DSPHAL_CMD_INIT:
      if (!validId(static_cast<long>(arg))) return fail(EINVAL);
      d.channel = static_cast<int>(arg);
      b.channels[d.channel].initialised = true;
      return 0;
    case DSPHAL_CMD_ENABLE:
    case DSPHAL_CMD_SETCLEARCHAN: {
      auto* cmd = reinterpret_cast<dsphal_cmdenable*>(arg);
      if (cmd == nullptr) return fail(EFAULT);
      if (!validId(cmd->id)) return fail(EINVAL);
      if (request == DSPHAL_CMD_ENABLE) {
        b.channels[cmd->id].enabled = cmd->enable != 0;
      } else {
        b.channels[cmd->id].clearChannel = cmd->enable != 0;
      }
      return 0;
    }
    case DSPHAL_CMD_SETDSPRATE:
      if (arg != TICK_MS) return fail(EINVAL);
      b.frameMs = static_cast<int>(arg);
      return 0;
    case DSPHAL_CMD_SETTICKENABLE:
      b.tickEnabled = arg != 0;
      return 0;
    case DSPHAL_CMD_SETVOICEIDLE:
      if ((arg != 0) != b.voiceIdle) ++b.voiceIdleChanges;
      b.voiceIdle = arg != 0;
      return 0;
    case DSPHAL_CMD_SETLOGLEVEL:
      b.dspLogLevel = static_cast<int>(arg);
      return 0;
    case DSPHAL_CMD_SETDECTSTACKSTATUS:
      return 0;
    default:
      return fail(EINVAL);
  }
}

}  // namespace vboard

using namespace vboard;

bool vboardParseConfig(const std::string& text, VBOARD_CONFIG* config, std::string* error) {
  VBOARD_CONFIG parsed;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      *error = "entry \"" + item + "\" is not key=value";
      return false;
    }
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < 0 || number > MAX_CHANNELS) {
      *error = "value of \"" + key + "\" must be a number from 0 to 8";
      return false;
    }
    if (key == "fxs") {
      parsed.fxs = static_cast<int>(number);
    } else if (key == "fxo") {
      parsed.fxo = static_cast<int>(number);
    } else if (key == "dect") {
      parsed.dect = static_cast<int>(number);
    } else if (key == "wideband") {
      parsed.wideband = number != 0;
    } else {
      *error = "unknown key \"" + key + "\"";
      return false;
    }
  }
  if (parsed.fxs + parsed.fxo + parsed.dect > MAX_CHANNELS) {
    *error = "at most 8 channels in all";
    return false;
  }
  *config = parsed;
  return true;
}

namespace {

// Which low descriptor numbers are the board's: the driver shim asks before every read, write and
// ioctl, so the answer for them takes no lock. Set once a descriptor is listed, cleared before it
// is unlisted and closed, so a number reused by a real file is never taken for the board's.
constexpr int kFlaggedFds = 1024;
std::array<std::atomic<bool>, kFlaggedFds> gOwnedFds{};

void flagOwned(int fd, bool owned) {
  if (fd >= 0 && fd < kFlaggedFds) gOwnedFds[fd].store(owned, std::memory_order_release);
}

}  // namespace

int vboardOpen(const char* path, int /*flags*/) {
  Descriptor::Device device;
  if (path != nullptr && std::strcmp(path, DSPHAL_DEVICE) == 0) {
    device = Descriptor::Device::DSPHAL;
  } else if (path != nullptr && std::strcmp(path, SLICSLAC_DEVICE) == 0) {
    device = Descriptor::Device::SLICSLAC;
  } else {
    return fail(ENOENT);
  }
  // The descriptor itself becomes readable when a line-driver event waits on it.
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (fd < 0) return -1;
  auto* d = new Descriptor;
  d->device = device;
  Board& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  configure(b);
  b.descriptors[fd] = d;
  flagOwned(fd, true);
  return fd;
}

bool vboardOwns(int fd) {
  if (fd >= 0 && fd < kFlaggedFds) return gOwnedFds[fd].load(std::memory_order_acquire);
  Board& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  return b.descriptors.count(fd) != 0;
}

int vboardIoctl(int fd, uint32_t request, unsigned long arg) {
  Board& b = board();
  Descriptor* d = nullptr;
  {
    std::unique_lock<std::mutex> lock(b.lock);
    auto it = b.descriptors.find(fd);
    if (it == b.descriptors.end()) return fail(EBADF);
    d = it->second;
    if (d->device == Descriptor::Device::SLICSLAC) {
      const int rc = slicslacIoctl(b, *d, request, arg);
      if (request == SS_CMD_ISOFFHOOK && rc >= 0) {
        const int saved = errno;
        lockstepHookSampled(b, lock);
        errno = saved;
      }
      return rc;
    }
    if (request != DSPHAL_CMD_WAITTICK) return dsphalIoctl(b, *d, request, arg);
    d->refs.fetch_add(1, std::memory_order_relaxed);  // held by this wait
  }
  // The tick wait blocks, so it runs without the board's lock; the descriptor stays alive
  // until the wait ends, even when it is closed meanwhile.
  struct Release {
    Descriptor* d;
    ~Release() { releaseDescriptor(d); }
  } release{d};
  return waitTick(*d);
}

ssize_t vboardRead(int fd, void* buffer, size_t length) {
  Board& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  auto it = b.descriptors.find(fd);
  if (it == b.descriptors.end()) return fail(EBADF);
  if (buffer == nullptr) return fail(EFAULT);
  Descriptor& d = *it->second;
  if (d.device == Descriptor::Device::DSPHAL) return readFrame(b, d, buffer, length);
  if (d.events.empty()) return fail(EAGAIN);
  const std::vector<uint8_t> event = std::move(d.events.front());
  d.events.pop_front();
  uint64_t one;
  (void)!::read(fd, &one, sizeof(one));  // one event fewer waiting
  const size_t n = std::min(length, event.size());
  std::memcpy(buffer, event.data(), n);
  return static_cast<ssize_t>(n);
}

ssize_t vboardWrite(int fd, const void* buffer, size_t length) {
  Board& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  auto it = b.descriptors.find(fd);
  if (it == b.descriptors.end()) return fail(EBADF);
  if (buffer == nullptr) return fail(EFAULT);
  Descriptor& d = *it->second;
  if (d.device != Descriptor::Device::DSPHAL) return fail(EINVAL);
  return writeFrame(b, d, buffer, length);
}

int vboardClose(int fd) {
  Board& b = board();
  Descriptor* d = nullptr;
  {
    std::lock_guard<std::mutex> guard(b.lock);
    auto it = b.descriptors.find(fd);
    if (it == b.descriptors.end()) return fail(EBADF);
    d = it->second;
    flagOwned(fd, false);
    b.descriptors.erase(it);
  }
  d->closed.store(true);
  wakeTickWait(*d);
  releaseDescriptor(d);
  return ::close(fd);
}
