// Ringing: profiles built from provisioned bit cadences or copied from a country's static
// patterns, and the stagger slots that spread the rings of a small board over time so that at
// most four lines of a slot ring at once.

#include <algorithm>

#include "casCtlInternal.h"
#include "voiceLog.h"
#include "vrgEndptTypes.h"

namespace {

constexpr uint32_t kShortStepMs = 100;
constexpr uint32_t kLongStepMs = 50;
constexpr uint32_t kLongSilenceMs = 2000;  // the first silence this long may carry caller ID
constexpr int kMaxBoardLinesForStagger = 2;

// --- Static patterns ----------------------------------------------------------------------------

constexpr CASSTM makeJapanIr() {
  CASSTM s{};
  s.state[0] = {0x70450, 1000};  // Japanese alerting, ring on, ringing, next 1
  s.state[1] = {0x70062, 2000};  // Japanese alerting, ring off, reverse feed, next 0
  return s;
}

constexpr CASSTM makeJapanCar() {
  CASSTM s{};
  s.state[0] = {0x70492, 250};  // Japanese alerting, RLCF, reverse feed
  s.state[1] = {0x70912, 0};    // timer expire
  for (uint32_t i = 2; i <= 12; ++i) {  // caller-ID alerting: ring on, ring off, ... ring on
    const bool ring = i % 2 == 0;
    s.state[i] = {casStateWord(CAS_CTL_FXO_JAPAN_ALERTING_CLID, i + 1,
                               ring ? CAS_CTL_EVENT_RINGON : CAS_CTL_EVENT_RINGOFF,
                               ring ? CAS_FEED_RINGING : CAS_FEED_REVERSE),
                  500};
  }
  s.state[13] = {casStateWord(CAS_CTL_FXO_JAPAN_ALERTING_CLID, 14, CAS_CTL_EVENT_RINGOFF,
                              CAS_FEED_REVERSE),
                 250};
  s.state[14] = {0x7F512, 0};  // Japanese alerting, timer expire, reverse feed, end
  return s;
}

constexpr CASSTM kJapanIr = makeJapanIr();
constexpr CASSTM kJapanCar = makeJapanCar();
static_assert(kJapanCar.state[2].stateinfo == 0x80C50 && kJapanCar.state[3].stateinfo == 0x81062 &&
              kJapanCar.state[4].stateinfo == 0x81450 && kJapanCar.state[12].stateinfo == 0x83450);

struct StaticRingPattern {
  uint32_t country;
  uint32_t id;
  const CASSTM* stm;
};

// Only Japan has static patterns.
constexpr StaticRingPattern gRingPatterns[] = {
    {VRG_COUNTRY_JAPAN, CAS_CTL_JAPAN_RING_ID_IR, &kJapanIr},
    {VRG_COUNTRY_JAPAN, CAS_CTL_JAPAN_RING_ID_CAR, &kJapanCar},
};

// --- Cadence bits ------------------------------------------------------------------------------

struct Cadence {
  int count = 0;
  bool bits[CAS_CTL_PROV_LONG_RING_MAX_INTERVAL];
  uint32_t stepMs = kShortStepMs;
  bool once = false;
  uint32_t loopStart = 0;
};

// 60 cadence bits from the top of pattern1:pattern2, leading zeros dropped; bit 3 of pattern2
// asks for one play.
void shortCadence(const CAS_CTL_SHORT_RING_PATTERN& p, Cadence& c) {
  const uint64_t v = static_cast<uint64_t>(p.pattern1) << 32 | p.pattern2;
  constexpr int kLowest = 64 - CAS_CTL_PROV_SHORT_RING_MAX_INTERVAL;
  int top = 63;
  while (top >= kLowest && ((v >> top) & 1) == 0) --top;
  for (int b = top; b >= kLowest; --b) c.bits[c.count++] = ((v >> b) & 1) != 0;
  c.stepMs = kShortStepMs;
  c.once = (p.pattern2 & 0x8) != 0;
  c.loopStart = 0;
}

// pattern1: bits 31-16 length, bit 15 play once, bits 14-8 loop start; the cadence from bit 7
// of pattern1 on through the following words.
void longCadence(const CAS_CTL_PROV_PATTERN& p, Cadence& c) {
  const uint32_t first = p.longRingPattern.pattern1;
  const int length = std::min<int>(first >> 16, CAS_CTL_PROV_LONG_RING_MAX_INTERVAL);
  for (int i = 0; i < length; ++i) {
    const int position = 24 + i;  // counted from the top bit of pattern1
    c.bits[c.count++] = ((p.words[position / 32] >> (31 - position % 32)) & 1) != 0;
  }
  c.stepMs = kLongStepMs;
  c.once = (first & 0x8000) != 0;
  c.loopStart = (first >> 8) & 0x7F;
}

struct Run {
  bool ring;
  uint32_t ms;
};

int cadenceRuns(const Cadence& c, Run* runs) {
  int n = 0;
  for (int i = 0; i < c.count; ++i) {
    if (n > 0 && runs[n - 1].ring == c.bits[i]) {
      runs[n - 1].ms += c.stepMs;
    } else {
      runs[n++] = {c.bits[i], c.stepMs};
    }
  }
  return n;
}

void buildFromCadence(const Cadence& c, bool brief, uint32_t clidTxDelay, CASSTM* stm) {
  if (c.count == 0) {  // nothing to ring: idle with forward feed
    stm->state[0] = {casStateWord(CAS_CTL_FXO_IDLE, CAS_NEXT_END, 0, CAS_FEED_FORWARD), 0};
    return;
  }
  Run runs[CAS_CTL_PROV_LONG_RING_MAX_INTERVAL];
  const int numRuns = cadenceRuns(c, runs);
  // The caller-ID split adds a step; it is left out when the profile has no room for it.
  const bool canSplit = clidTxDelay >= 1 && clidTxDelay < kLongSilenceMs &&
                        numRuns + 1 + (c.once ? 1 : 0) <= CAS_CTL_MAX_PROFILE_STEPS;
  uint32_t loopStart = c.loopStart;
  int n = 0;
  int inserted = -1;
  bool firstLongSilence = true;
  for (int r = 0; r < numRuns; ++r) {
    const Run& run = runs[r];
    if (run.ring) {
      stm->state[n++] = {casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_RINGON,
                                      CAS_FEED_RINGING),
                         run.ms};
    } else if (firstLongSilence && run.ms >= kLongSilenceMs) {
      firstLongSilence = false;
      const uint32_t first = canSplit ? clidTxDelay : run.ms;
      stm->state[n++] = {casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_FIRST_RINGOFF,
                                      CAS_FEED_FORWARD),
                         first};
      if (canSplit) {
        inserted = n;
        stm->state[n++] = {casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_TIMER_EXPIRE,
                                        CAS_FEED_FORWARD),
                           run.ms - clidTxDelay};
      }
    } else {
      stm->state[n++] = {casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_RINGOFF,
                                      CAS_FEED_FORWARD),
                         run.ms};
    }
  }
  if (inserted >= 0 && static_cast<uint32_t>(inserted) <= loopStart) ++loopStart;
  if (loopStart >= static_cast<uint32_t>(n)) loopStart = 0;  // a loop start past the end
  for (int i = 0; i < n; ++i) {
    const uint32_t next = i + 1 < n ? i + 1 : (c.once ? n : loopStart);
    stm->state[i].stateinfo |= next << 10;
  }
  if (c.once) {
    stm->state[n] = {brief ? casStateWord(CAS_CTL_FXO_IDLE, CAS_NEXT_END,
                                          CAS_CTL_EVENT_BRIEF_RING, 0)
                           : casStateWord(CAS_CTL_FXO_IDLE, CAS_NEXT_END, 0, 0),
                     0};
  }
}

bool staggerApplies() { return casLineOps().numEndpoints() <= kMaxBoardLinesForStagger; }

bool anyRingQueued(const CASSTATE& s) {
  for (const CASSTAGGERMEM& slot : s.staggerState) {
    for (uint16_t holder : slot.ringslot) {
      if (holder != CAS_STAGGER_FREE) return true;
    }
  }
  return false;
}

bool anyRingStarted(const CASSTATE& s) {
  for (const CASSTAGGERMEM& slot : s.staggerState) {
    for (int i = 0; i < CAS_STAGGER_POSITIONS; ++i) {
      if (slot.ringslot[i] != CAS_STAGGER_FREE && slot.ringOn[i]) return true;
    }
  }
  return false;
}

void freePosition(CASSTAGGERMEM& slot, int i) {
  slot.ringslot[i] = CAS_STAGGER_FREE;
  slot.ringOn[i] = 0;
  slot.patternBits[i] = 0;
}

// Queues a ring in the first free position (position by position, slot 0 first).
bool staggerQueue(CASSTATE& s, CAS_CTL_HANDLE handle, const CAS_CTL_RING_PROFILE& ring) {
  for (int i = 0; i < s.maxRingersPerSlot && i < CAS_STAGGER_POSITIONS; ++i) {
    for (CASSTAGGERMEM& slot : s.staggerState) {
      if (slot.ringslot[i] != CAS_STAGGER_FREE) continue;
      slot.ringslot[i] = static_cast<uint16_t>(handle);
      slot.pattern[i] = ring;
      slot.patternBits[i] = 0;
      slot.ringOn[i] = 0;
      return true;
    }
  }
  return false;
}

class StaggerLock {
 public:
  StaggerLock() : mutex_(casCtlState().mutex) {
    if (mutex_ != nullptr) vosMutexAcquire(mutex_);
  }
  ~StaggerLock() {
    if (mutex_ != nullptr) vosMutexRelease(mutex_);
  }
  StaggerLock(const StaggerLock&) = delete;
  StaggerLock& operator=(const StaggerLock&) = delete;

 private:
  VOS_MUTEX mutex_;
};

}  // namespace

const CASSTM* casCtlStaticPattern(uint32_t country, uint32_t id) {
  for (const StaticRingPattern& p : gRingPatterns) {
    if (p.country == country && p.id == id) return p.stm;
  }
  return nullptr;
}

bool casCtlBuildRingProfile(const CAS_CTL_RING_PROFILE& ring, CASSTM* stm) {
  *stm = CASSTM{};
  Cadence cadence;
  switch (ring.ringType) {
    case CAS_CTRL_STATIC_RING: {
      const CASSTM* pattern = casCtlStaticPattern(ring.pattern >> 8, ring.pattern & 0xFF);
      if (pattern == nullptr) {
        voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                 "CAS: No static ring pattern 0x%x - cannot set ring pattern\n", ring.pattern);
        return false;
      }
      *stm = *pattern;
      return true;
    }
    case CAS_CTRL_SHORT_BRIEF_RING:
    case CAS_CTRL_SHORT_NORMAL_RING:
      shortCadence(ring.provBits.shortRingPattern, cadence);
      break;
    case CAS_CTRL_LONG_BRIEF_RING:
    case CAS_CTRL_LONG_NORMAL_RING:
      longCadence(ring.provBits, cadence);
      break;
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
               "CAS: Unrecognized package - cannot set ring pattern\n");
      return false;
  }
  const bool brief =
      ring.ringType == CAS_CTRL_SHORT_BRIEF_RING || ring.ringType == CAS_CTRL_LONG_BRIEF_RING;
  buildFromCadence(cadence, brief, ring.clidTxDelay, stm);
  return true;
}

CAS_CTL_STATUS profileRingOn(CAS_CTL_HANDLE handle, const CAS_CTL_RING_PROFILE& ring) {
  // A request that cannot be built leaves the line as it is rather than loading an empty
  // profile, whose zero words would open the loop.
  CASSTM probe;
  if (!casCtlBuildRingProfile(ring, &probe)) return CAS_CTL_FAILURE;
  return casCtlSendProfile(
      handle, [](CASSTM& stm, const void* built) { stm = *static_cast<const CASSTM*>(built); },
      &probe);
}

CAS_CTL_STATUS casCtlRingProfileOn(CAS_CTL_HANDLE handle, const CAS_CTL_RING_PROFILE* profile,
                                   int ringInterleave) {
  if (!casCtlValidHandle(handle) || profile == nullptr) return CAS_CTL_FAILURE;
  if (ringInterleave && staggerApplies()) {
    CASSTM probe;  // refuse a bad request now, not when its slot comes round
    if (!casCtlBuildRingProfile(*profile, &probe)) return CAS_CTL_FAILURE;
    CASSTATE& s = casCtlState();
    StaggerLock lock;
    casCtlStaggerRemove(handle);  // a line rings from one position only
    if (staggerQueue(s, handle, *profile)) {
      if (!anyRingStarted(s)) s.staggerMsec = s.staggerInterval;  // start on the next period
      return CAS_CTL_SUCCESS;
    }
  }
  return profileRingOn(handle, *profile);
}

void casCtlStaggerInit(void) {
  CASSTATE& s = casCtlState();
  s.maxRingersPerSlot = CAS_STAGGER_POSITIONS;
  s.staggerInterval = 2000;
  s.staggerMsec = 0;
  for (CASSTAGGERMEM& slot : s.staggerState) {
    for (int i = 0; i < CAS_STAGGER_POSITIONS; ++i) freePosition(slot, i);
  }
}

void casCtlStaggerRemove(CAS_CTL_HANDLE handle) {
  CASSTATE& s = casCtlState();
  if (!s.initialised) return;
  StaggerLock lock;
  for (CASSTAGGERMEM& slot : s.staggerState) {
    for (int i = 0; i < CAS_STAGGER_POSITIONS; ++i) {
      if (slot.ringslot[i] == handle) freePosition(slot, i);
    }
  }
}

void casCtlStaggerStep(void) {
  CASSTATE& s = casCtlState();
  if (!s.initialised) return;
  StaggerLock lock;
  // With every slot free a period has nothing to start or rotate (the next ring queued restarts
  // the count), so the line driver is not asked for the board's lines 100 times a second.
  if (!anyRingQueued(s) || !staggerApplies()) return;
  if (s.staggerMsec <= s.staggerInterval) s.staggerMsec += CAS_TICK_MS;
  if (s.staggerMsec <= s.staggerInterval) return;
  CASSTAGGERMEM& due = s.staggerState[0];
  for (int i = 0; i < CAS_STAGGER_POSITIONS; ++i) {
    if (due.ringslot[i] == CAS_STAGGER_FREE || due.ringOn[i]) continue;
    profileRingOn(due.ringslot[i], due.pattern[i]);
    due.ringOn[i] = 1;
  }
  const CASSTAGGERMEM started = s.staggerState[0];
  s.staggerState[0] = s.staggerState[1];
  s.staggerState[1] = s.staggerState[2];
  s.staggerState[2] = started;
  s.staggerMsec = 0;
}
