// The two peers the daemon keeps the ids of, the PBX ("asterisk") and the DECT manager ("dect"):
// the broker's notices of objects at their paths, the look-ups that check them against the bus
// (each bounded by the library's own 5 s wait; one that fails is tried again a second later, from
// the loop's timer), and the PBX's events that wait for a look-up meanwhile.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <libubox/blobmsg.h>

#include "loop_timer.h"
#include "orvoxd.h"

namespace {

// A peer the daemon keeps the id of. `doubt`: the bus could not be asked about it (a look-up that
// failed or whose answer never came: a broker drops messages to a client whose queue is full), or
// a call to the id it has failed with "not found"; it is looked up again every second until the bus
// answers.
struct watchedPeer_t {
  const char* path;
  uint32_t* id;
  bool isPbx;
  bool doubt;
};
watchedPeer_t watchedPeers[] = {
    {asterisk_path, &asterisk_id, true, false},
    {cordhub_path, &cordhub_id, false, false},
};
constexpr time_t PEER_RECHECK_S = 1;
loopTimer_t recheckTimer = {-1, nullptr};
// While the bus cannot be asked about the PBX, what the PBX held when that began: only that can be
// a departed PBX's once the bus answers again, since the PBX there has its calls served between
// look-ups meanwhile and what it made then is its own. Null with `pbxDoubtRecorded`: memory failed,
// and what is held when the bus answers stands for it.
bool pbxDoubtRecorded;
pbxHeld_t* pbxDoubtHeld;
// Line events whose call found no PBX at the id known: sent again to the PBX the bus has once it
// is looked up, in the order they came.
tl_list_t* eventsToResend;
uint32_t pbxNotFoundAt;  // the id at which they found none

// The id of the object that the bus has at `path` now (0: none), through `*onBus`; false when
// the bus could not be asked, and nothing is to be concluded.
bool busObjectAt(const char* path, uint32_t* onBus) {
  uint32_t id = 0;
  const int ret = ubus_lookup_id(ctx, path, &id);
  if (ret == UBUS_STATUS_NOT_FOUND) id = 0;
  else if (ret != UBUS_STATUS_OK) return false;
  *onBus = id;
  return true;
}

// What the bus has at a watched path now is taken as the peer. A PBX other than the one known, or
// none, while the PBX held something of `held`: that is a departed PBX's.
void takePeerFromBus(watchedPeer_t& peer, uint32_t onBus, const pbxHeld_t* held) {
  const bool pbxGone = peer.isPbx && onBus != *peer.id && (*peer.id != 0 || pbxHeldAny(held));
  *peer.id = onBus;
  if (pbxGone) connectionsPbxGone(held);
}

void pbxDoubtEnded() {
  pbxHeldFree(pbxDoubtHeld);
  pbxDoubtHeld = nullptr;
  pbxDoubtRecorded = false;
}

void recheckExpired(tl_stream_t*, tl_event_t*);

void scheduleRecheck(watchedPeer_t& peer) {
  peer.doubt = true;
  if (peer.isPbx && !pbxDoubtRecorded) {
    pbxDoubtHeld = pbxHeldNow();
    pbxDoubtRecorded = true;
  }
  if (recheckTimer.fd >= 0 || tinyBase < 0) return;
  loopTimerStart(&recheckTimer, PEER_RECHECK_S, recheckExpired, "Error creating look-up timer",
                 "Error setting look-up timer");
}

// Looks the peer up; a look-up that fails is tried again later. One that succeeds after failures
// settles the PBX with what it held when the first failed.
void lookUpPeer(watchedPeer_t& peer) {
  uint32_t onBus = 0;
  if (!busObjectAt(peer.path, &onBus)) {
    logRequest("Looking up %s failed: trying again", peer.path);
    scheduleRecheck(peer);
    return;
  }
  peer.doubt = false;
  takePeerFromBus(peer, onBus, peer.isPbx ? pbxDoubtHeld : nullptr);
  if (peer.isPbx) pbxDoubtEnded();
}

// The events that found no PBX go to the one the bus has now; with none, they are answered as
// failed, as any event that found no PBX.
void resendEvents() {
  if (watchedPeers[0].doubt) return;
  while (auto* ev = static_cast<line_event_t*>(tl_list_get(eventsToResend))) {
    if (asterisk_id != pbxNotFoundAt && ubus_call_asterisk(ev) == 0) continue;
    pbxAnswered(ev, UBUS_STATUS_NOT_FOUND);
    free(ev);
  }
  notifyCordhubWhilePending();
}

void recheckExpired(tl_stream_t*, tl_event_t*) {
  if (!loopTimerExpired(&recheckTimer, "Error, reading timer fd")) return;
  loopTimerStop(&recheckTimer, recheckExpired);
  for (watchedPeer_t& peer : watchedPeers)
    if (peer.doubt) lookUpPeer(peer);
  resendEvents();
}

}  // namespace

void ubus_lookup_peers(void) {
  for (watchedPeer_t& peer : watchedPeers) lookUpPeer(peer);
}

void ubus_lookup_pbx(void) {
  lookUpPeer(watchedPeers[0]);
  resendEvents();
}

// A notice of the broker's that an object came or went. The library serves the notices and the
// calls in the order the broker sent them, so a call the PBX made before it left is served before
// its removal, and one a new PBX makes after its removal; and the removal of any object at the
// PBX's path comes before every call of a PBX that registers there later (a path has one object at
// a time). What the daemon holds when it serves such a removal is then a departed PBX's, whichever
// PBX it knew.
//
// The notice is checked against the bus before the daemon acts: an object is taken as the PBX or
// the DECT manager only while the bus has it at that path, and a notice the bus cannot confirm
// (the look-up failed) concludes nothing but that the path is looked up again a second later. A
// PBX that the bus has under a new id is a new PBX, whichever notice shows it first (a broker may
// drop messages to a client that reads slowly, the removal among them): what the old one left is
// closed before the new one is taken. So is what is held (connections or signals) when the PBX's
// path is added and no PBX is known: it can only be a PBX's that left unseen.
void ubus_event_new_obj(struct ubus_context*, struct ubus_event_handler*, const char* type,
                        struct blob_attr* msg) {
  enum { NEW_OBJ_ID, NEW_OBJ_PATH, __NEW_OBJ_MAX };
  static const struct blobmsg_policy new_obj_policy[] = {
      {"id", BLOBMSG_TYPE_INT32},
      {"path", BLOBMSG_TYPE_STRING},
  };
  struct blob_attr* tb[__NEW_OBJ_MAX];
  if (!type || !msg) return;
  if (blobmsg_parse(new_obj_policy, __NEW_OBJ_MAX, tb, blob_data(msg), blob_len(msg)) != 0)
    return;
  if (!tb[NEW_OBJ_ID] || !tb[NEW_OBJ_PATH]) return;
  uint32_t id = blobmsg_get_u32(tb[NEW_OBJ_ID]);
  const char* path = blobmsg_get_string(tb[NEW_OBJ_PATH]);
  const bool isPbx = strcmp(path, asterisk_path) == 0;
  uint32_t* known = isPbx ? &asterisk_id : strcmp(path, cordhub_path) == 0 ? &cordhub_id : nullptr;
  const bool added = strcmp(type, "ubus.object.add") == 0;
  if (!known || (!added && strcmp(type, "ubus.object.remove") != 0)) return;

  watchedPeer_t& peer = watchedPeers[isPbx ? 0 : 1];
  uint32_t onBus = 0;
  if (!busObjectAt(path, &onBus)) {
    scheduleRecheck(peer);
    return;
  }
  const bool knownThere = *known != 0 && onBus == *known;
  bool pbxGone = false;
  if (added) {
    if (onBus != id) return;  // a late notice: the bus has moved on since
    if (knownThere) return;   // the object the daemon knows (it learnt of it by a look-up)
    pbxGone = isPbx && (*known != 0 || pbxLeftAnything());
  } else {
    // The removal of an earlier object, the one the daemon knows being there: only what is held
    // now (connections, or signals left on) is of a PBX that left (see above), however many
    // PBXs came after it.
    if (knownThere && id != *known && !(isPbx && pbxLeftAnything())) return;
    // The removal of the PBX known, or of one at the path when none was known: its connections
    // go even when none is known, they can only be its.
    pbxGone = isPbx;
  }
  *known = onBus;
  if (pbxGone) connectionsPbxGone(nullptr);
}

int ubus_peers_init(void) {
  eventsToResend = tl_list_new();
  return eventsToResend ? 0 : -1;
}

int ubus_pbx_event_waits(line_event_t* ev) {
  // While the PBX cannot be looked up, its events wait for the look-up to succeed.
  return watchedPeers[0].doubt && eventsToResend && tl_list_add(eventsToResend, ev) == 0 ? 0 : -1;
}

int ubus_pbx_not_found(line_event_t* ev, uint32_t at) {
  // The look-up cannot be made from inside the library's reading: the loop's timer makes it.
  if (!eventsToResend || tl_list_add(eventsToResend, ev) != 0) return -1;
  pbxNotFoundAt = at;
  scheduleRecheck(watchedPeers[0]);
  return 0;
}

void ubus_dect_not_found(void) { scheduleRecheck(watchedPeers[1]); }

void ubus_peers_close(void) {
  loopTimerStop(&recheckTimer, recheckExpired);
  while (auto* ev = static_cast<line_event_t*>(tl_list_get(eventsToResend))) free(ev);
  pbxDoubtEnded();
}
