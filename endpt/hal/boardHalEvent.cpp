// The "voice-events" task: waits on the descriptors registered with bhEventPoll and calls the
// handler stored with each one.

#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "boardHal.h"
#include "voiceLog.h"
#include "vosEvent.h"
#include "vosTask.h"

namespace {

constexpr int kMaxEvents = 10;
constexpr int kWaitMs = 100;

std::atomic<int> epollFd{-1};
std::atomic<bool> halted{false};
VOS_TASK_ID eventTaskId{};
bool eventTaskCreated = false;

void closeEpoll() {
  const int fd = epollFd.exchange(-1);
  if (fd >= 0) ::close(fd);
}

struct Registration {
  int fd;
  BH_EVENT_HANDLER handler;
};

// Registrations live as long as the process: a handler can run after its descriptor was
// removed, and there are only ever a few of them.
std::mutex registrationLock;
Registration registrations[16];
int numRegistrations = 0;

void eventTaskMain(VOS_TASK_ARG) {
  voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_DEBUG, "%s: Enter\n", "boardHalEventTask");
  epoll_event events[kMaxEvents];
  while (!halted.load()) {
    const int n = epoll_wait(epollFd.load(), events, kMaxEvents, kWaitMs);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const auto* reg = static_cast<const Registration*>(events[i].data.ptr);
      if (reg != nullptr && reg->handler != nullptr) reg->handler(reg->fd, events[i].events);
    }
  }
  voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_DEBUG, "%s: Exit\n", "boardHalEventTask");
}

}  // namespace

int boardHalEventInit(void) {
  // The instance exists before the task runs, so that descriptors can be added at once.
  const int fd = epoll_create1(EPOLL_CLOEXEC);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: Couldn't create EPOLL FD!\n",
             __func__);
    return -1;
  }
  epollFd = fd;
  halted = false;
  if (vosTaskCreate("events", 8192, VOS_TASK_CLASS_MED_HIGH, eventTaskMain, nullptr,
                    &eventTaskId) != VOS_STATUS_OK) {
    closeEpoll();
    return -1;
  }
  eventTaskCreated = true;
  return 0;
}

void boardHalEventDeinit(void) {
  if (!eventTaskCreated) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_NOTICE,
             "%s: Board hal event task is not initialized.\n", __func__);
    return;
  }
  halted = true;
  vosTaskWaitForDone(eventTaskId);  // it sees the flag within one wait
  vosEventUnRegisterTask(eventTaskId);
  eventTaskCreated = false;
  closeEpoll();
  std::lock_guard<std::mutex> guard(registrationLock);
  numRegistrations = 0;
}

int bhEventPoll(int fd, uint32_t flags, BH_EVENT_HANDLER handler) {
  std::lock_guard<std::mutex> guard(registrationLock);
  int rc = -1;
  if (numRegistrations < static_cast<int>(sizeof(registrations) / sizeof(registrations[0]))) {
    Registration& reg = registrations[numRegistrations];
    reg = Registration{fd, handler};
    epoll_event event{};
    event.events = flags;
    event.data.ptr = &reg;
    rc = epoll_ctl(epollFd.load(), EPOLL_CTL_ADD, fd, &event);
    if (rc == 0) ++numRegistrations;
  }
  if (rc != 0) {
    voiceLog(VOICE_MODULE_SLICSLAC, VOICE_LOGLEVEL_ERROR, "%s: epoll_ctl returned %d\n", __func__,
             rc);
  }
  return rc;
}
