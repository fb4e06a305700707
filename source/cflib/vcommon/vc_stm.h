// The table-driven state-machine engine of the modem side. A state is a run of rows: row 0 holds
// the state's per-pass actions, the rows after it are transitions {event, next state, actions}; the
// run ends at the first row whose event is 0 or negative. The engine holds no state of its own.
#pragma once

#include <cstddef>
#include <cstdint>

using VCESTMEVT = int32_t;
enum : VCESTMEVT { e_firstevent = -32767, e_lastevent = 32767, e_null = -1, vce_endStm = -1 };

using VCSTMF = int32_t (*)(void* context);

// One row with N action slots. Every row family shares this layout, so the engine can walk any of
// them given the row width.
template <int N>
struct VCZSTMROW {
  VCESTMEVT ev;
  const VCZSTMROW* nsp;
  VCSTMF actions[N];
};

using VCZSTMEV = VCZSTMROW<1>;
static_assert(offsetof(VCZSTMROW<1>, nsp) == offsetof(VCZSTMROW<3>, nsp));
static_assert(offsetof(VCZSTMROW<1>, actions) == offsetof(VCZSTMROW<3>, actions));

// Row width of a family with n actions on this host.
constexpr uint16_t vcStmRowBytes(int n) {
  return static_cast<uint16_t>(offsetof(VCZSTMROW<1>, actions) + sizeof(VCSTMF) * n);
}
static_assert(sizeof(VCZSTMROW<2>) == vcStmRowBytes(2));

// Event ring of L slots (a power of two); counts run freely and wrap at 65536.
template <uint16_t L>
struct VCZSTMEVQN {
  static_assert((L & (L - 1)) == 0, "the ring length is a power of two");
  uint16_t roff;
  uint16_t woff;
  uint16_t len;
  int32_t q[L];
};
using VCZSTMEVQ = VCZSTMEVQN<8>;

const void* vcfStmEventHandlerX(const void* state, VCESTMEVT event, void* context, uint16_t rowBytes,
                                int16_t numActions);
void vcfStmExecuteFlistX(const void* row, void* context, int16_t numActions);

template <int N>
const VCZSTMROW<N>* vcfStmEventHandler(const VCZSTMROW<N>* state, VCESTMEVT event, void* context) {
  return static_cast<const VCZSTMROW<N>*>(
      vcfStmEventHandlerX(state, event, context, sizeof(VCZSTMROW<N>), N));
}
template <int N>
void vcfStmExecuteFlist(const VCZSTMROW<N>* row, void* context) {
  vcfStmExecuteFlistX(row, context, N);
}

template <uint16_t L>
void vcfStmInitQueue(VCZSTMEVQN<L>* q) {
  q->roff = 0;
  q->woff = 0;
  q->len = L;
}

template <uint16_t L>
int vcfStmGetEvent(VCZSTMEVQN<L>* q, VCESTMEVT* eventOut) {
  if (q->woff == q->roff) return 0;
  const int32_t ev = q->q[q->roff & (q->len - 1)];
  q->roff = static_cast<uint16_t>(q->roff + 1);
  *eventOut = ev;
  return 1;
}

template <uint16_t L>
void vcfStmPutEvent(VCZSTMEVQN<L>* q, VCESTMEVT event) {
  q->q[q->woff & (q->len - 1)] = event;
  q->woff = static_cast<uint16_t>(q->woff + 1);
}

// One pass of a machine: offer every queued event to the state reached so far, then run row 0 of
// the resulting state once.
template <int N, uint16_t L>
const VCZSTMROW<N>* vcfStmRun(const VCZSTMROW<N>* state, VCZSTMEVQN<L>* q, void* context) {
  VCESTMEVT ev;
  while (vcfStmGetEvent(q, &ev)) state = vcfStmEventHandler(state, ev, context);
  vcfStmExecuteFlist(state, context);
  return state;
}
