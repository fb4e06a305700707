// Helpers shared by the dispatcher's processing: connection-mode classes, the digit tables
// between tone-service digits, endpoint events, signals and pulse counts, and the RTP packet
// classifier of the network path.
#pragma once

#include <cstdint>

#include "hdspTone.h"
#include "vrgEndptTypes.h"

// ---- connection modes ----

// The direction argument of ModeCheck (rtpCnx.h): whether a connection mode sends or receives.
inline constexpr int SENDMODE = 0;
inline constexpr int RECVMODE = 1;

// ---- digits ----

struct EPSIG2PTEDIGITMAP {
  EPSIG signal;
  uint16_t digit;
};
inline constexpr int EPSIG2PTEDIGIT_ROWS = 17;
extern const EPSIG2PTEDIGITMAP epSig2PteDigitMap[EPSIG2PTEDIGIT_ROWS];

// Rows of the digit table digit2epevtMap {digit, endpoint event, pulse count}.
// The row of a tone-service digit; the terminating row (EPEVT_NULL) when there is none.
const EPZPTEDIGIT2EPEVTMAP* DigitRowFromDigit(unsigned digit);
// The row whose pulse count is `pulses`, or null.
const EPZPTEDIGIT2EPEVTMAP* DigitRowFromPulses(int pulses);
// The row whose endpoint event is `event`, or null.
const EPZPTEDIGIT2EPEVTMAP* DigitRowFromEvent(int event);
// The tone-service digit of a DTMF signal, or -1.
int PteDigitFromSignal(EPSIG signal);

// ---- RTP classifier ----

enum RTPPKT_TYPE : int32_t {
  RTPPKT_MEDIA = 0,
  RTPPKT_DTMF_EVENT = 1,
  RTPPKT_RING_EVENT = 2,
  RTPPKT_RINGOFF_EVENT = 3,
  RTPPKT_OSI_EVENT = 4,
  RTPPKT_RLCF_EVENT = 5,
  RTPPKT_UNSUPPORTED = 6,
  RTPPKT_INVALID = 7,  // the header's own lengths do not fit in the packet
};

inline constexpr int RTP_HEADER_SIZE = 12;

// The header layout of the last classified packet.
struct RTPPARSE {
  uint8_t bPaddingByte;     // padding bytes at the end, from the last byte
  uint16_t wExtensionByte;  // header extension bytes, profile word included
  uint16_t wCSRCByte;       // CSRC list bytes
  const uint8_t* pPayload;  // first payload byte
};

// Classifies an RTP packet by its payload type and, for the receive telephone-event payload type,
// by its event code. Lengths are checked: a packet shorter than its header, or whose CSRC list,
// extension or padding reaches past its end, is RTPPKT_INVALID and is not read beyond its length.
RTPPKT_TYPE RtpGetPacketType(uint8_t recvNtePayloadType, const uint8_t* packet, int length,
                             bool gr303, RTPPARSE* parse);
