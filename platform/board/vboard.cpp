#include "vboard.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "dsphalDrv.h"

namespace {

constexpr int VBOARD_MAX_CHANNELS = 8;
constexpr const char* SLICSLAC_DEVICE = "/dev/slicslac";

enum class VDevice { DSPHAL, SLICSLAC };

struct VChannel {
  dh_type type;
  dh_sample_rate rate;
  bool initialised = false;
  bool enabled = true;
  bool clearChannel = false;
};

struct VDescriptor {
  VDevice device;
  int channel = -1;  // set by DSPHAL_CMD_INIT on a channel descriptor
};

struct VBoard {
  std::mutex lock;
  bool configured = false;
  VBOARD_CONFIG config;
  std::vector<VChannel> channels;
  std::map<int, VDescriptor> descriptors;
  int frameMs = 5;
  bool tickEnabled = false;
  bool voiceIdle = false;
  int dspLogLevel = 0;
};

VBoard& board() {
  static VBoard instance;
  return instance;
}

void vboardConfigure(VBoard& b) {
  if (b.configured) {
    return;
  }
  b.configured = true;
  const char* text = std::getenv("ORVOX_BOARD");
  std::string error;
  if (text != nullptr && !vboardParseConfig(text, &b.config, &error)) {
    std::fprintf(stderr, "virtual board: ORVOX_BOARD: %s; using fxs=2,fxo=1,dect=1\n",
                 error.c_str());
    b.config = VBOARD_CONFIG{};
  }
  const dh_sample_rate fxsRate = b.config.wideband ? DSPHAL_RATE_16KHZ : DSPHAL_RATE_8KHZ;
  for (int i = 0; i < b.config.fxs; ++i) b.channels.push_back({DSPHAL_TYPE_FXS, fxsRate});
  for (int i = 0; i < b.config.fxo; ++i) b.channels.push_back({DSPHAL_TYPE_FXO, DSPHAL_RATE_8KHZ});
  for (int i = 0; i < b.config.dect; ++i) b.channels.push_back({DSPHAL_TYPE_DECT, DSPHAL_RATE_8KHZ});
}

int fail(int error) {
  errno = error;
  return -1;
}

int dsphalIoctl(VBoard& b, VDescriptor& d, uint32_t request, unsigned long arg) {
  const int numChannels = static_cast<int>(b.channels.size());
  auto validId = [&](long id) { return id >= 0 && id < numChannels; };
  switch (request) {
    case DSPHAL_CMD_GETNUMEPT:
      return numChannels;
    case DSPHAL_CMD_GETCHANCFG: {
      auto* cfg = reinterpret_cast<dsphal_chancfg*>(arg);
      if (cfg == nullptr) return fail(EFAULT);
      if (!validId(cfg->id)) return fail(EINVAL);
      const VChannel& ch = b.channels[cfg->id];
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
      if (arg != 5) return fail(EINVAL);
      b.frameMs = static_cast<int>(arg);
      return 0;
    case DSPHAL_CMD_SETTICKENABLE:
      b.tickEnabled = arg != 0;
      return 0;
    case DSPHAL_CMD_SETVOICEIDLE:
      b.voiceIdle = arg != 0;
      return 0;
    case DSPHAL_CMD_SETLOGLEVEL:
      b.dspLogLevel = static_cast<int>(arg);
      return 0;
    default:
      return fail(EINVAL);
  }
}

}  // namespace

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
    if (value.empty() || *end != '\0' || number < 0 || number > VBOARD_MAX_CHANNELS) {
      *error = "value of \"" + key + "\" must be a number from 0 to 8";
      return false;
    }
    if (key == "fxs") parsed.fxs = static_cast<int>(number);
    else if (key == "fxo") parsed.fxo = static_cast<int>(number);
    else if (key == "dect") parsed.dect = static_cast<int>(number);
    else if (key == "wideband") parsed.wideband = number != 0;
    else {
      *error = "unknown key \"" + key + "\"";
      return false;
    }
  }
  if (parsed.fxs + parsed.fxo + parsed.dect > VBOARD_MAX_CHANNELS) {
    *error = "at most 8 channels in all";
    return false;
  }
  *config = parsed;
  return true;
}

int vboardOpen(const char* path, int /*flags*/) {
  VDevice device;
  if (path != nullptr && std::strcmp(path, DSPHAL_DEVICE) == 0) {
    device = VDevice::DSPHAL;
  } else if (path != nullptr && std::strcmp(path, SLICSLAC_DEVICE) == 0) {
    device = VDevice::SLICSLAC;
  } else {
    return fail(ENOENT);
  }
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    return -1;
  }
  VBoard& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  vboardConfigure(b);
  b.descriptors[fd] = VDescriptor{device};
  return fd;
}

bool vboardOwns(int fd) {
  VBoard& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  return b.descriptors.count(fd) != 0;
}

int vboardIoctl(int fd, uint32_t request, unsigned long arg) {
  VBoard& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  auto it = b.descriptors.find(fd);
  if (it == b.descriptors.end()) {
    return fail(EBADF);
  }
  if (it->second.device == VDevice::DSPHAL) {
    return dsphalIoctl(b, it->second, request, arg);
  }
  return fail(EINVAL);
}

ssize_t vboardRead(int fd, void* /*buffer*/, size_t /*length*/) {
  if (!vboardOwns(fd)) return fail(EBADF);
  return 0;
}

ssize_t vboardWrite(int fd, const void* /*buffer*/, size_t length) {
  if (!vboardOwns(fd)) return fail(EBADF);
  return static_cast<ssize_t>(length);
}

int vboardClose(int fd) {
  VBoard& b = board();
  std::lock_guard<std::mutex> guard(b.lock);
  if (b.descriptors.erase(fd) == 0) {
    return fail(EBADF);
  }
  return ::close(fd);
}
