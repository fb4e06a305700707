// A decoder wrapper's memory with a payload store in front of it, as the codec service lays it
// out: payloads are filed in the store's slots and released to the decoder by a record.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vocoder.h"

struct VocDecStore {
  std::vector<uint64_t> mem;
  std::vector<uint16_t> store;
  uint16_t work[PVE_PAYLOAD_BUF_WORDS] = {};
  AJC_Q q{};
  AJC_PAYLOADQ pq{};
  HSZVOCREGS regs = pveVoiceRegsDefault().voxregs;
  const HSZVOCODERS* v;
  uint16_t code;

  VocDecStore(const HSZVOCODERS* vocoder, uint16_t c, uint16_t slotBytes, size_t memWords = 8192,
              size_t storeWords = 2048)
      : mem(memWords), store(storeWords), v(vocoder), code(c) {
    ajcQInit(&q, &pq, store.data(), static_cast<uint16_t>(store.size()), slotBytes);
    PVE_DEC_HDR* h = vocoderDecHdr(mem.data());
    h->payloadQp = &pq;
    h->payloadBufp = work;
  }
  VocDecStore(const VocDecStore&) = delete;  // the store's queue points into the record
  VocDecStore& operator=(const VocDecStore&) = delete;

  // Configures the decoder with the registers as they stand.
  void configure() { v->decinitcfgfnc(mem.data(), &regs, code, 1); }

  // Files `nwords` payload words in a free slot and returns the frame's header.
  AJC_PKT_HDR file(uint8_t cls, const uint16_t* words, int nwords, uint16_t bytes) {
    const int slot = searchFreeIndex(&pq);
    EXPECT_GE(slot, 0);
    std::memcpy(ajcSlotPtr(&pq, slot), words, nwords * 2);
    return AJC_PKT_HDR{static_cast<uint16_t>(cls << 8 | code), bytes, 0, 0, static_cast<uint16_t>(slot << 8)};
  }

  // Runs the decoder on a release record; samples it leaves alone keep `fill`.
  std::vector<int16_t> decode(AJC_PVEDEC_INT r, int n, int16_t fill = 0) {
    std::vector<int16_t> out(n, fill);
    v->decfnc(mem.data(), &r, out.data());
    return out;
  }

  int slotsInUse() const {
    int n = 0;
    for (unsigned s = 0; s < pq.numEntry; ++s) n += (pq.freeListp[s >> 4] & (0x8000u >> (s & 15))) != 0;
    return n;
  }
};
