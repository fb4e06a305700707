// Fax-relay packets to IFP packets, and merging two T.30 data IFPs.
#include "t38_ifp.h"

#include <cstring>

namespace {

constexpr int16_t kV33_12000 = 69, kV33_14400 = 70;

#define IND(code, type) {code, T30_IND, type, NO_DFS, NO_DFS}
#define DAT(code, type, f0, f1) {code, T30_DATA, type, f0, f1}

}  // namespace

// Rows by code: indicators 0..17, V.21 18..22, page data 23..32, ECM data 33..42, ECM frame ends
// 43..52 and 53..62, page ends 63 and 64, V21_SIGEND 65 (no IFP form).
const HAPI_TO_IFP hapiToIFPLUT[66] = {
    IND(0, 0), IND(1, 1), IND(2, 2), IND(3, 3), IND(4, 4), IND(5, 5), IND(6, 6), IND(7, 7),
    IND(8, kV33_12000), IND(9, kV33_14400),
    IND(10, 8), IND(11, 9), IND(12, 10), IND(13, 11), IND(14, 12), IND(15, 13), IND(16, 14), IND(17, 15),
    DAT(18, 0, HDLC_DATA, NO_DFS), DAT(19, 0, HDLC_DATA, HDLC_FCS_OK), DAT(20, 0, HDLC_DATA, HDLC_FCS_OK_SIG_END),
    DAT(21, 0, HDLC_DATA, HDLC_FCS_BAD), DAT(22, 0, HDLC_DATA, HDLC_FCS_BAD_SIG_END),
    DAT(23, 1, T4_NON_ECM, NO_DFS), DAT(24, 2, T4_NON_ECM, NO_DFS), DAT(25, 3, T4_NON_ECM, NO_DFS),
    DAT(26, 4, T4_NON_ECM, NO_DFS), DAT(27, kV33_12000, T4_NON_ECM, NO_DFS), DAT(28, kV33_14400, T4_NON_ECM, NO_DFS),
    DAT(29, 5, T4_NON_ECM, NO_DFS), DAT(30, 6, T4_NON_ECM, NO_DFS), DAT(31, 7, T4_NON_ECM, NO_DFS),
    DAT(32, 8, T4_NON_ECM, NO_DFS),
    DAT(33, 1, HDLC_DATA, NO_DFS), DAT(34, 2, HDLC_DATA, NO_DFS), DAT(35, 3, HDLC_DATA, NO_DFS),
    DAT(36, 4, HDLC_DATA, NO_DFS), DAT(37, kV33_12000, HDLC_DATA, NO_DFS), DAT(38, kV33_14400, HDLC_DATA, NO_DFS),
    DAT(39, 5, HDLC_DATA, NO_DFS), DAT(40, 6, HDLC_DATA, NO_DFS), DAT(41, 7, HDLC_DATA, NO_DFS),
    DAT(42, 8, HDLC_DATA, NO_DFS),
    DAT(43, 1, HDLC_DATA, HDLC_FCS_OK), DAT(44, 2, HDLC_DATA, HDLC_FCS_OK), DAT(45, 3, HDLC_DATA, HDLC_FCS_OK),
    DAT(46, 4, HDLC_DATA, HDLC_FCS_OK), DAT(47, kV33_12000, HDLC_DATA, HDLC_FCS_OK),
    DAT(48, kV33_14400, HDLC_DATA, HDLC_FCS_OK), DAT(49, 5, HDLC_DATA, HDLC_FCS_OK),
    DAT(50, 6, HDLC_DATA, HDLC_FCS_OK), DAT(51, 7, HDLC_DATA, HDLC_FCS_OK), DAT(52, 8, HDLC_DATA, HDLC_FCS_OK),
    DAT(53, 1, HDLC_DATA, HDLC_FCS_BAD), DAT(54, 2, HDLC_DATA, HDLC_FCS_BAD), DAT(55, 3, HDLC_DATA, HDLC_FCS_BAD),
    DAT(56, 4, HDLC_DATA, HDLC_FCS_BAD), DAT(57, kV33_12000, HDLC_DATA, HDLC_FCS_BAD),
    DAT(58, kV33_14400, HDLC_DATA, HDLC_FCS_BAD), DAT(59, 5, HDLC_DATA, HDLC_FCS_BAD),
    DAT(60, 6, HDLC_DATA, HDLC_FCS_BAD), DAT(61, 7, HDLC_DATA, HDLC_FCS_BAD), DAT(62, 8, HDLC_DATA, HDLC_FCS_BAD),
    DAT(63, USE_CURRENT_TYPE, T4_NON_ECM_SIG_END, NO_DFS), DAT(64, USE_CURRENT_TYPE, HDLC_SIG_END, NO_DFS),
    {65, T30_DATA, -2, NO_DFS, NO_DFS},  // V21_SIGEND: no IFP form
};

#undef IND
#undef DAT

namespace {

// Data type of a training indicator (4..15, 69, 70); -1 for other indicators.
int16_t dataTypeOfTraining(int16_t t) {
  if (t >= 4 && t <= 7) return static_cast<int16_t>(t - 3);
  if (t >= 8 && t <= 15) return static_cast<int16_t>(5 + (t - 8) / 2);
  if (t == kV33_12000 || t == kV33_14400) return t;
  return -1;
}

// Starts a signal's tail: repeats of the last datagram (mode 0) or NO_SIGNAL packets (mode 1).
// The NO_SIGNAL packets carry the signal end as a secondary only in the first `redundancyLow` of
// them, so it is itself repeated first until it has gone in three datagrams.
void startTail(T38ZCONV* st, uint8_t redundancyLow, uint8_t mode) {
  const uint8_t ticks = redundancyLow > T38_TAIL_COPIES ? redundancyLow : T38_TAIL_COPIES;
  st->flushMode = mode;
  const int carried = 1 + redundancyLow;  // the signal end and the no-signals after it
  st->flushRepeats = mode == 1 && carried < T38_TAIL_COPIES ? static_cast<uint8_t>(T38_TAIL_COPIES - carried) : 0;
  st->flushState = static_cast<uint16_t>(ticks + st->flushRepeats + 1);
}

// Whether an HDLC field ends the signal, with or without closing a frame.
bool hdlcSigEnd(int f) { return f == HDLC_SIG_END || f == HDLC_FCS_OK_SIG_END || f == HDLC_FCS_BAD_SIG_END; }

bool sigEnd(IFP_FIELD_TYPE f) { return f == T4_NON_ECM_SIG_END || hdlcSigEnd(f); }

}  // namespace

int t38fHapiPktToIFPpkt(T38ZCONV* st, uint8_t redundancyLow, const HAPI_PKT_HDR* hdr, const uint16_t* payload,
                        uint8_t* out, int cap) {
  const uint8_t code = static_cast<uint8_t>(hdr->payloadID & 0xFF);
  if ((hdr->payloadID >> 8) != 5 || code >= 65) {
    ++st->unknownPkt;
    return -1;
  }
  const HAPI_TO_IFP& row = hapiToIFPLUT[code];
  if (row.type == kV33_12000 || row.type == kV33_14400) {
    ++st->unknownPkt;
    return -1;
  }
  if (row.choice == T30_IND) {
    const int16_t dt = dataTypeOfTraining(row.type);
    if (dt >= 0) st->msgtype = dt;
    if (row.type != 0) startTail(st, redundancyLow, 0);
    return t38fEncodeIFP(out, cap, false, row.type, NO_DFS, nullptr, 0, NO_DFS);
  }
  const int16_t type = row.type == USE_CURRENT_TYPE ? st->msgtype : row.type;
  // Octets carried: the bit count rounded up, but never more than the payload holds.
  int octets = 0;
  if (hdr->payloadLength != 0 && payload != nullptr) {
    octets = (payload[0] + 7) / 8;
    const int room = hdr->payloadLength >= 2 ? hdr->payloadLength - 2 : 0;
    if (octets > room) octets = room;
  }
  if ((code == HAPI_PKT_FC_PAGEEND || code == HAPI_PKT_FC_ECM_PAGEEND) && type <= 0) return -1;
  if (type >= 1) {
    if (sigEnd(row.fieldType0) || sigEnd(row.fieldType1)) startTail(st, redundancyLow, 1);
  } else if (row.fieldType1 != NO_DFS) {
    startTail(st, redundancyLow, (row.fieldType1 == HDLC_FCS_OK || row.fieldType1 == HDLC_FCS_BAD) ? 0 : 1);
  }
  uint8_t bytes[T38_MAX_IFP];
  for (int i = 0; i < octets && i < T38_MAX_IFP; ++i) {
    const uint16_t w = payload[1 + i / 2];
    bytes[i] = static_cast<uint8_t>((i & 1) ? w : w >> 8);
  }
  if (octets > T38_MAX_IFP) return -1;
  return t38fEncodeIFP(out, cap, true, type, row.fieldType0, bytes, octets, row.fieldType1);
}

namespace {

// Whether the last field header of a T.30 data IFP sits in the high half of its last octet with
// the low half free (the field had no data), so that a following header belongs there.
bool endsInFreeLowHalf(const uint8_t* ifp, int len) {
  int pos = 2;  // after the type and count octets
  bool high = true;
  for (int f = 0; f < ifp[1] && pos < len; ++f) {
    const uint8_t nib = high ? static_cast<uint8_t>(ifp[pos] >> 4) : static_cast<uint8_t>(ifp[pos] & 0x0F);
    if (nib & 0x8) {
      ++pos;
      if (pos + 2 > len) return false;
      pos += 2 + ((ifp[pos] << 8) | ifp[pos + 1]) + 1;
      high = true;
    } else if (high) {
      high = false;
    } else {
      ++pos;
      high = true;
    }
  }
  return !high;
}

}  // namespace

int t38fMergeIFP(uint8_t* first, int firstLen, const uint8_t* second, int secondLen, int cap) {
  if (first == nullptr || second == nullptr || firstLen < 3 || secondLen < 3) return -1;
  if (t38fIFPcheck(first, firstLen) != firstLen || t38fIFPcheck(second, secondLen) != secondLen) return -1;
  const int count1 = first[1];
  const int count2 = second[1];
  if ((count1 != 1 && count1 != 2) || count1 + count2 > 127) return -1;
  const uint8_t fieldOctet = second[2];
  // The second's first header goes into the free low half the first leaves, if any; else its
  // octets follow whole. (A header put into the low half of a data octet would corrupt the data.)
  const bool nibble = endsInFreeLowHalf(first, firstLen);
  const int merged = nibble ? firstLen + (secondLen - 3) : firstLen + (secondLen - 2);
  if (merged > cap || merged > T38_MAX_IFP) return -1;  // refused: the first stays as it was
  if (nibble) {
    first[firstLen - 1] = static_cast<uint8_t>((first[firstLen - 1] & 0xF0) | (fieldOctet >> 4));
    std::memcpy(first + firstLen, second + 3, static_cast<size_t>(secondLen - 3));
  } else {
    std::memcpy(first + firstLen, second + 2, static_cast<size_t>(secondLen - 2));
  }
  first[1] = static_cast<uint8_t>(count1 + count2);
  return merged;
}

namespace {

constexpr int kChunk = 84;  // data octets of one fax-relay packet

void emitChunks(T38RELAYSINK sink, void* user, uint8_t code, const uint8_t* data, int n, bool lastMayBeEmpty) {
  int at = 0;
  while (n - at > kChunk) {
    sink(user, code, data + at, kChunk);
    at += kChunk;
  }
  if (n - at > 0 || lastMayBeEmpty) sink(user, code, data + at, n - at);
}

// A packet's type octets: whether it carries data fields (else it is an indicator), its
// indicator or data type, and where its field count stands.
struct IfpHead {
  bool data;
  int value;
  int count;  // the octet holding the field count
};

IfpHead ifpHead(const uint8_t* ifp) {
  const uint8_t t0 = ifp[0];
  return {(t0 & 0x40) != 0, (t0 & 0x20) ? (((t0 & 0x0F) << 2) | (ifp[1] >> 6)) : ((t0 >> 1) & 15), (t0 & 0x20) ? 2 : 1};
}

// Calls field(type, data, n) for each field of a data packet walked whole, in turn; a field
// without octets has data null and n 0.
template <class Field>
void forEachField(const uint8_t* ifp, const IfpHead& h, Field field) {
  int p = h.count;
  const int count = ifp[p++];
  bool high = true;
  for (int f = 0; f < count; ++f) {
    const uint8_t nib = high ? static_cast<uint8_t>(ifp[p] >> 4) : static_cast<uint8_t>(ifp[p] & 0x0F);
    const uint8_t* data = nullptr;
    int n = 0;
    if (nib & 8) {
      ++p;
      high = true;
      n = ((ifp[p] << 8) | ifp[p + 1]) + 1;
      data = ifp + p + 2;
      p += 2 + n;
    } else if (high) {
      high = false;
    } else {
      ++p;
      high = true;
    }
    field(nib & 7, data, n);
  }
}

}  // namespace

bool t38fIFPpktToHapiPkt(const uint8_t* ifp, int len, T38RELAYSINK sink, void* user) {
  if (!t38fIFPplayable(ifp, len) || sink == nullptr) return false;
  t38fWalkedIFPtoHapiPkt(ifp, sink, user);
  return true;
}

void t38fWalkedIFPtoHapiPkt(const uint8_t* ifp, T38RELAYSINK sink, void* user) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data) {
    sink(user, static_cast<uint8_t>(h.value <= 7 ? h.value : h.value + 2), nullptr, 0);
    return;
  }
  const bool v21 = h.value == 0;
  const int base = v21 ? 18 : (h.value <= 4 ? h.value + 22 : h.value + 24);
  forEachField(ifp, h, [&](int type, const uint8_t* data, int n) {
    auto status = [&](int code) { sink(user, static_cast<uint8_t>(code), nullptr, 0); };
    // A frame's good end carries no octets: the sender checked the frame before them. Octets there
    // (a field retyped on the way) are no part of the frame it checked, and the frame without them
    // is short of what it sent: either way no frame the sender checked, so it ends bad.
    if (v21) {
      switch (type) {
        case HDLC_DATA: emitChunks(sink, user, 18, data, n, false); break;
        case HDLC_FCS_OK: status(n > 0 ? 21 : 19); break;
        case HDLC_FCS_BAD: status(21); break;
        case HDLC_FCS_OK_SIG_END: status(n > 0 ? 22 : 20); break;
        case HDLC_FCS_BAD_SIG_END: status(22); break;
        case HDLC_SIG_END:
        case T4_NON_ECM_SIG_END: status(65); break;  // a page-data kind, but still the signal's end
        // page-data kinds have no V.21 form: octets of one (a field retyped on the way) are octets
        // the frame open lost, and it ends bad there; what follows is no frame's start
        default:
          if (n > 0) status(21);
          break;
      }
      return;
    }
    switch (type) {
      case T4_NON_ECM: emitChunks(sink, user, static_cast<uint8_t>(base), data, n, true); break;
      case T4_NON_ECM_SIG_END:
        emitChunks(sink, user, static_cast<uint8_t>(base), data, n, true);
        status(HAPI_PKT_FC_PAGEEND);
        break;
      case HDLC_DATA: emitChunks(sink, user, static_cast<uint8_t>(base + 10), data, n, false); break;
      case HDLC_SIG_END: status(HAPI_PKT_FC_ECM_PAGEEND); break;
      case HDLC_FCS_OK: status(n > 0 ? base + 30 : base + 20); break;
      case HDLC_FCS_BAD: status(base + 30); break;
      case HDLC_FCS_OK_SIG_END:
        status(n > 0 ? base + 30 : base + 20);
        status(HAPI_PKT_FC_ECM_PAGEEND);
        break;
      case HDLC_FCS_BAD_SIG_END:
        status(base + 30);
        status(HAPI_PKT_FC_ECM_PAGEEND);
        break;
      default: break;
    }
  });
}

namespace {

bool closesFrameGood(const uint8_t* ifp, const IfpHead& h) {
  bool good = false;
  forEachField(ifp, h, [&](int type, const uint8_t*, int) { good = good || type == HDLC_FCS_OK || type == HDLC_FCS_OK_SIG_END; });
  return good;
}

}  // namespace

bool t38fIFPclosesEcmFrameGood(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value == 0) return false;  // an indicator, or V.21
  return closesFrameGood(ifp, h);
}

bool t38fIFPclosesV21FrameGoodBurstOn(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0) return false;
  bool good = false, ends = false;
  forEachField(ifp, h, [&](int type, const uint8_t*, int) {
    good = good || type == HDLC_FCS_OK;
    ends = ends || hdlcSigEnd(type);
  });
  return good && !ends;
}

bool t38fIFPclosesV21Frame(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0) return false;
  bool closes = false;
  forEachField(ifp, h, [&](int type, const uint8_t*, int) {
    closes = closes || (type >= HDLC_FCS_OK && type <= HDLC_FCS_BAD_SIG_END);
  });
  return closes;
}

bool t38fIFPendsV21Signal(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0) return false;
  bool ends = false;
  forEachField(ifp, h, [&](int type, const uint8_t*, int) {
    ends = ends || hdlcSigEnd(type);
  });
  return ends;
}

namespace {

// The octet at `at` of a V.21 packet's first field where that field is HDLC data that long, else -1.
int firstFieldOctet(const uint8_t* ifp, const IfpHead& h, int at) {
  int octet = -1;
  bool first = true;
  forEachField(ifp, h, [&](int type, const uint8_t* data, int n) {
    if (first && type == HDLC_DATA && n > at) octet = data[at];
    first = false;
  });
  return octet;
}

}  // namespace

int t38fIFPv21FrameControl(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0 || !closesFrameGood(ifp, h)) return -1;
  return firstFieldOctet(ifp, h, 1);
}

int t38fIFPv21FrameCommand(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0 || !closesFrameGood(ifp, h)) return -1;
  return firstFieldOctet(ifp, h, 2);
}

int t38fIFPv21FirstOctet(const uint8_t* ifp) {
  const IfpHead h = ifpHead(ifp);
  if (!h.data || h.value != 0) return -1;
  return firstFieldOctet(ifp, h, 0);
}
