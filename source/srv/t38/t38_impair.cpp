// Network-impairment injector: holds back in-band datagrams by a pseudo-random rule to reorder
// them. Delay and jitter are stored only.
#include "qrn/qrn.h"
#include "t38_dg.h"

namespace {

HSFIMPAIRSINK gSink = nullptr;
constexpr HSF_IBD_MASK kT38Mask = 0x100;

void deliver(const HSFMSG* msg) {
  if (gSink != nullptr) {
    gSink(msg);
    return;
  }
  QRN_QueueMsgInServices(msg, 0, kT38Mask, 0);
}

void push(HSFMSG* ring, uint16_t& in, uint16_t& count, const HSFMSG& msg) {
  ring[in] = msg;
  in = static_cast<uint16_t>((in + 1) % 32);
  if (count < 32) ++count;
}

HSFMSG pop(HSFMSG* ring, uint16_t& out, uint16_t& count) {
  const HSFMSG m = ring[out];
  out = static_cast<uint16_t>((out + 1) % 32);
  --count;
  return m;
}

void releaseHeld(HSZIMPAIR* imp) {
  while (imp->reorderQcount > 0) {
    const HSFMSG m = pop(imp->reorderq, imp->reorderQout, imp->reorderQcount);
    deliver(&m);
  }
}

void freeMsg(const HSFMSG& m) {
  if (!HAPI_OPCODE_IS_STD(m.std.header) && m.ext.bufp != nullptr) hsfBmFree(m.ext.bufp);
}

}  // namespace

void hsfimpairSetSink(HSFIMPAIRSINK sink) { gSink = sink; }

void hsfimpairinit(HSZIMPAIR* imp) {
  *imp = HSZIMPAIR{};
  imp->pSeed = 21845;
}

void hsfimpairmentinput(HSZIMPAIR* imp, const HSFMSG* msg) {
  if (imp->impairQcount >= 32) return;  // the ring is full: the newest is not taken
  push(imp->impairQ, imp->impairQin, imp->impairQcount, *msg);
}

void hsfimpairblk(HSZIMPAIR* imp) {
  while (imp->impairQcount > 0) {
    if (imp->reorder != 0) {
      imp->pSeed = static_cast<int16_t>(imp->pSeed * 31821 + 13849);
      if (imp->pSeed > 21000 && imp->reorderQcount < 32) {
        const HSFMSG m = pop(imp->impairQ, imp->impairQout, imp->impairQcount);
        if (imp->reordercount == 0) {
          imp->pSeed = static_cast<int16_t>(imp->pSeed * 31821 + 13849);
          imp->reordercount = 1;
          imp->reorderflushtimer = 50;
        }
        push(imp->reorderq, imp->reorderQin, imp->reorderQcount, m);
        ++imp->re_counter;
        continue;
      }
    }
    const HSFMSG m = pop(imp->impairQ, imp->impairQout, imp->impairQcount);
    deliver(&m);
    if (imp->reorder != 0 && imp->reordercount > 0 && --imp->reordercount == 0) {
      releaseHeld(imp);
      imp->reorderflushtimer = 0;
    }
  }
  if (imp->reorderflushtimer == 0) {
    releaseHeld(imp);
    imp->reordercount = 0;
  }
}

void hsfimpairtimer(HSZIMPAIR* imp) {
  ++imp->impairtimer;
  if (imp->reorderflushtimer > 0) --imp->reorderflushtimer;
}

void hsfimpairflush(HSZIMPAIR* imp) {
  while (imp->impairQcount > 0) freeMsg(pop(imp->impairQ, imp->impairQout, imp->impairQcount));
  while (imp->reorderQcount > 0) freeMsg(pop(imp->reorderq, imp->reorderQout, imp->reorderQcount));
  imp->impairQin = imp->impairQout = 0;
  imp->reorderQin = imp->reorderQout = 0;
}

void lbsetdelay(HSZIMPAIR* imp, uint16_t value) {
  imp->delay = value;
  imp->impairQin = imp->impairQout = imp->impairQcount = 0;
}

void lbsetjitter(HSZIMPAIR* imp, uint16_t value) {
  imp->jitter = value;
  imp->impairQin = imp->impairQout = imp->impairQcount = 0;
}

void lbsetpacketloss(HSZIMPAIR*, uint16_t) {}

void lbsetreorder(HSZIMPAIR* imp, uint16_t value) {
  imp->reorder = value;
  if (value != 0) {
    imp->reordercount = 0;
    imp->re_counter = 0;
    imp->reorderQin = imp->reorderQout = imp->reorderQcount = 0;
  }
}
