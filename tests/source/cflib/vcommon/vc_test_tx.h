// A transmitter for the modem-library tests: the baud machine's transmit half driving the
// modulator, pulse shaper and 7200 -> 8000 resampler in blocks of 40 output samples, the way a
// datapump does.
#pragma once

#include <vector>

#include "vc_baud.h"

struct TestTransmitter {
  VCZBAUD baud{};
  VCZMOD mod{};
  int16_t circle[2 * 20]{};
  int16_t fast[2 * 99]{};
  double owed = 0;

  explicit TestTransmitter(int16_t amplitude) {
    vcfBdmTxbaud_init(&baud);
    vcfStmInitQueue(&baud.txeventq);
    vcfInitBulkDly(circle, 20, &mod);
    vcfInitTxParam32(&mod, amplitude);
    baud.txmem.modParamp = &mod;
  }

  // Appends blocks of output; each block carries the symbols its 40 samples are owed.
  void run(int blocks, std::vector<int16_t>& out) {
    for (int b = 0; b < blocks; ++b) {
      vcfInitFastBulkDly(circle, mod.modWrtp, 20, &baud.txsbuf, fast, 99, 20);
      owed += 40 * 2400 / 8000.0;
      const int n = int(owed);
      owed -= n;
      baud.txsbuf.fstEndp = baud.txsbuf.fstWrp + n;
      vcfBdmTxnoaction(&baud);
      int16_t block[64];
      int16_t* w = block;
      vcfTxSymbols(&w, &mod, &baud.txsbuf);
      out.insert(out.end(), block, w);
      vcfCopyToBulkDly(&mod.modWrtp, baud.txsbuf.fstStp, baud.txsbuf.fstStp + 99, int16_t(n), circle, 20);
    }
  }
};
