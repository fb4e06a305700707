// Resting channels: when a channel's run may be skipped, the count of skipped runs, and the
// catch-up before its next real run.
#include "vhd_rest.h"

#include <algorithm>

#include "cfg/vhd_services.h"
#include "lhapi.h"
#include "qrn/qrn_internal.h"
#include "swb/swb.h"
#include "vhd.h"
#include "vhd_rest_hooks.h"

bool VHD_gRestAllowed = true;

namespace {

const VHD_RestHook kDefaultRestHooks[] = {
    {&netsrvarc, netRestRuns, netCatchUp},        {&rtparc, rtpRestRuns, rtpCatchUp},
    {&pvecodecarc, codecRestRuns, codecCatchUp},  {&ptearc, pteRestRuns, nullptr},
    {&cdisarc, cdisRestRuns, nullptr},            {&v21arc, v21RestRuns, nullptr},
    {&pcmarc, pcmRestRuns, nullptr},              {&confbosarc, confRestRuns, nullptr},
};

const VHD_RestHook* hookOf(const HSFSRVARC* archive) {
  for (uint16_t i = 0; i < VHD_gNumRestHooks; ++i) {
    if (VHD_gRestHooks[i].archive == archive) return &VHD_gRestHooks[i];
  }
  return nullptr;
}

bool allZero(const uint8_t* bytes, size_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// A channel that is the source of a connection sends its frames on even when nothing arrives; as a
// destination only, what arrives wakes it.
bool switchboardSource(QRN_Handle handle) {
  return SWB_FindSourcePort(SWB_Port{handle, HAPI_SWB_TOS, 0}) >= 0 ||
         SWB_FindSourcePort(SWB_Port{handle, HAPI_SWB_BOS, 0}) >= 0;
}

bool halfQuiet(QRN_HalfSocket* half) {
  return half == nullptr || (half->dataQ.headPtr == nullptr && !qrnHostQueued(half->hostdataQueued));
}

// Nothing waits for the channel: no message, no data, no stack switch, no path.
bool channelQuiet(QRN_Socket* socket) {
  if (socket->ss_ctl.stackswitchInprogress || socket->ss_ctl.stackSrvSwapComplete) return false;
  if (qrnHostQueued(socket->hostmsgQueued)) return false;
  if (!halfQuiet(socket->ingress) || !halfQuiet(socket->egress)) return false;
  LhapiLockGuard lock;
  return socket->msgQ.headPtr == nullptr && !switchboardSource(socket->handle);
}

// Whether a mark was taken in the hooks in place now.
template <class Mark>
bool markOfTheseHooks(const Mark& mark) {
  return mark.hooks == VHD_gRestHooks && mark.numHooks == VHD_gNumRestHooks;
}

bool restlessMarkHolds(const VHD_RestlessMark& mark, const QRN_Socket* socket,
                       const QRN_StackArchive& stack) {
  return markOfTheseHooks(mark) && mark.index < stack.numServices &&
         socket->service[mark.index].archive == mark.archive;
}

// Whether every service of the stack has a rest hook: a stack with one that has none never rests,
// which a busy channel (a fax call) learns here without the lock and the switchboard's look-ups;
// a stack whose services all have one is marked as well.
bool stackMayRest(VHD_Instance* slot, const QRN_Socket* socket) {
  const QRN_StackArchive* stack = socket->currStackArchive;
  if (stack == nullptr) return false;
  if (restlessMarkHolds(slot->restless, socket, *stack)) return false;
  if (slot->restful.stack == stack && markOfTheseHooks(slot->restful)) return true;
  for (uint16_t i = 0; i < stack->numServices; ++i) {
    const HSFSRVARC* archive = socket->service[i].archive;
    if (archive == nullptr || hookOf(archive) == nullptr) {
      slot->restless = VHD_RestlessMark{VHD_gRestHooks, VHD_gNumRestHooks, i, archive};
      return false;
    }
  }
  // A stack's positions hold the services its archive names from the switch that started it.
  slot->restful = VHD_RestfulMark{VHD_gRestHooks, VHD_gNumRestHooks, stack};
  return true;
}

// The runs of `direction` that every service of the stack allows to skip from here.
uint32_t servicesRestRuns(QRN_Socket* socket, HAPI_DIRECTION direction) {
  const QRN_StackArchive* stack = socket->currStackArchive;
  if (stack == nullptr) return 0;
  uint32_t runs = VHD_REST_UNBOUNDED;
  for (uint16_t i = 0; i < stack->numServices && runs > 0; ++i) {
    QRN_Service* service = &socket->service[i];
    const VHD_RestHook* hook = service->archive != nullptr ? hookOf(service->archive) : nullptr;
    if (hook == nullptr) return 0;
    QRN_gSocketContext.pCurrentService = service;
    runs = std::min(runs, hook->restRuns(service->serviceData, direction));
  }
  QRN_gSocketContext.pCurrentService = nullptr;
  return runs;
}

uint32_t& skippedOf(VHD_Skipped& skipped, HAPI_DIRECTION direction) {
  return direction == HAPI_DIRECTION_INGRESS ? skipped.ingress : skipped.egress;
}

// Whether the run may be skipped. A direction's first skipped run asks the services and checks
// the saved history (silence stays silence over idle runs; nothing else writes it); later ones
// only see that the frame is the same and the allowance lasts.
bool mayRest(VHD_Instance* slot, QRN_Socket* socket, HAPI_DIRECTION direction,
             const QRN_HalfSocket* half, uint16_t historyBytes) {
  if (!VHD_gRestAllowed) return false;
  const uint32_t skipped = skippedOf(slot->skipped, direction);
  if (skipped == 0 && !stackMayRest(slot, socket)) return false;
  if (!channelQuiet(socket)) return false;
  if (skipped == 0) {
    // The history is read only when the services allow a rest.
    slot->restRuns[direction] = servicesRestRuns(socket, direction);
    slot->restMode[direction] = half->mode;
    return slot->restRuns[direction] > 0 && allZero(half->mediaQhistory, historyBytes);
  }
  const uint16_t period =
      direction == HAPI_DIRECTION_INGRESS ? slot->skipped.ingressPeriod : slot->skipped.egressPeriod;
  return period == half->frameSize && slot->restMode[direction] == half->mode &&
         skipped < slot->restRuns[direction];
}

void count(VHD_Skipped& skipped, HAPI_DIRECTION direction, uint16_t frameSize) {
  if (direction == HAPI_DIRECTION_INGRESS) {
    skipped.ingress += 1;
    skipped.ingressPeriod = frameSize;
  } else {
    skipped.egress += 1;
    skipped.egressPeriod = frameSize;
  }
  skipped.last = direction;
}

void wake(VHD_Instance* slot, QRN_Socket* socket) {
  if (!vhdResting(*slot)) return;
  const QRN_StackArchive* stack = socket->currStackArchive;
  for (uint16_t i = 0; stack != nullptr && i < stack->numServices; ++i) {
    QRN_Service* service = &socket->service[i];
    if (service->archive == nullptr) continue;
    const VHD_RestHook* hook = hookOf(service->archive);
    if (hook == nullptr || hook->catchUp == nullptr) continue;
    QRN_gSocketContext.pCurrentService = service;
    hook->catchUp(service->serviceData, slot->skipped);
  }
  QRN_gSocketContext.pCurrentService = nullptr;
  slot->skipped = VHD_Skipped{};
  for (QRN_HalfSocket* half : {socket->ingress, socket->egress}) {
    if (half != nullptr && half->thread != nullptr) half->thread->mayRunQuick = 0;
  }
}

}  // namespace

const VHD_RestHook* VHD_gRestHooks = kDefaultRestHooks;
uint16_t VHD_gNumRestHooks = static_cast<uint16_t>(std::size(kDefaultRestHooks));

namespace {

// The whole check of vhdRestThisRun, for a channel that is resting or whose stack may rest.
[[gnu::noinline]] bool restThisRunChecked(VHD_Instance* slot, QRN_Socket* socket,
                                          HAPI_DIRECTION direction, const QRN_HalfSocket* half,
                                          uint16_t historyBytes) {
  // Read before the channel is looked at: whatever comes after it moves them.
  const uint32_t activity = qrnActivity(socket);
  const uint32_t generation = SWB_Generation();
  if (!mayRest(slot, socket, direction, half, historyBytes)) {
    wake(slot, socket);
    return false;
  }
  slot->restActivity[direction] = activity;
  slot->restSwbGeneration[direction] = generation;
  count(slot->skipped, direction, half->frameSize);
  // The next runs that rest on are the kernel's quick runs of the thread's body.
  if (half->thread != nullptr) half->thread->mayRunQuick = 1;
  return true;
}

}  // namespace

bool vhdRestThisRun(VHD_Instance* slot, QRN_Socket* socket, HAPI_DIRECTION direction,
                    const QRN_HalfSocket* half, uint16_t historyBytes) {
  // A channel in a call whose stack cannot rest has nothing to count and nothing to wake: it
  // learns so before the whole check's set-up.
  const QRN_StackArchive* stack = socket->currStackArchive;
  if (!vhdResting(*slot) && stack != nullptr && restlessMarkHolds(slot->restless, socket, *stack)) {
    return false;
  }
  return restThisRunChecked(slot, socket, direction, half, historyBytes);
}

// The frame size and mode the whole check compares move the activity as well, so the period the
// direction counted stands.
bool vhdRestAgain(VHD_Instance* slot, QRN_Socket* socket, HAPI_DIRECTION direction) {
  const uint32_t skipped = skippedOf(slot->skipped, direction);
  if (skipped == 0 || skipped >= slot->restRuns[direction] || !VHD_gRestAllowed) return false;
  if (qrnActivity(socket) != slot->restActivity[direction] ||
      SWB_Generation() != slot->restSwbGeneration[direction]) {
    return false;
  }
  skippedOf(slot->skipped, direction) += 1;
  slot->skipped.last = direction;
  return true;
}
