// What both pumps of the fax datapump service do alike, frame by frame: the transmit frame around
// the symbol machine, and the receive front end, symbol loop and data hand-over around theirs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vfx.h"

// ---- transmitter ----

struct VFXTXFRAMEPARM {
  int baud;                            // symbols per second
  const char* assertSource;            // names the pump when a frame's remainder is out of range
  void (*initModulator)(VFXLOCLMEM*);  // on the first frame of a transmission
  void (*start)(VFXLOCLMEM*);          // the first segment, with or without the tone (pageflag)
};

// One 10 ms frame of line samples into `vfxtxbuf`: the samples carried from the last frame, then
// as many symbols as the frame needs, the rest carried into the next; reports the bits taken.
void vfxPumpTxFrame(VFXLOCLMEM* m, const VFXTXFRAMEPARM& p);

// Page data from the client's queue, without a symbol count; reports the start of data.
void vfxPumpTxDataStart(VFXLOCLMEM* m);

// True when the page data ends: the client's stop command, or too few bits for a symbol.
bool vfxPumpTxDataEnds(VFXLOCLMEM* m);

// Back to idle after a transmission: the machine reset, the done and pool reports sent.
void vfxPumpTxIdle(VFXLOCLMEM* m);

// ---- receiver ----

struct VFXRXFRONTPARM {
  int16_t resampleParam;             // the receive resampler's rate
  int eqHist;                        // equaliser history kept in front of the frame's samples
  int sampPerSym;
  void (*startTiming)(VFXLOCLMEM*);  // while timing recovery is on: (re)start it when asked
};

// Section A: 8000/s history and frame resampled, gained and, with timing recovery on,
// interpolated at the tracked symbol timing; whole symbols go to the machine's window.
void vfxPumpRxFrontEnd(VFXLOCLMEM* m, const int16_t* frame, const VFXRXFRONTPARM& p);

// Section B's symbol loop: the machine's state and queued events, symbol by symbol while whole
// symbols remain; then the samples not used are carried in front of the next frame's.
void vfxPumpRxRun(VFXLOCLMEM* m, int sampPerSym, int eqHist);

// Section C: set up the data parser when asked, forward received data, and report the end of a
// reception.
void vfxPumpRxDataOut(VFXLOCLMEM* m);

// Gain finding over the window's samples, consumed in whole symbols; true when the gain is found
// (it is then the receive gain).
bool vfxPumpFindGain(VFXLOCLMEM* m, int sampPerSym);

// The end of page data: the partly filled packet goes to the parser with the rest, and the
// reception is marked ended for section C.
void vfxPumpRxEnd(VFXLOCLMEM* m);

// The end of a training check: pending packets dropped, the ones counted and the peak error
// reported, the service back to enabled.
void vfxPumpRxTcfDone(VFXLOCLMEM* m, uint16_t onesInTcf);

// The row of a rate conversion table (rate, code, bits/s) for `rate`, or null.
template <typename Row, size_t N>
const Row* vfxFindRateRow(const Row (&rows)[N], uint16_t rate) {
  for (const Row& r : rows)
    if (r.rate == rate) return &r;
  return nullptr;
}
