// IFP packet walk and encoding, and UDPTL datagram building (t38_udptl_rx*.cpp receive).
#include "t38_udptl.h"

#include <cstring>

namespace {

void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

}  // namespace

uint16_t t38fGetLengthDeterminant(const uint8_t** pos, const uint8_t* end) {
  const uint8_t* p = *pos;
  if (p >= end) return 0xFFFF;
  const uint8_t b = *p++;
  uint16_t len;
  if ((b & 0x80) == 0) {
    len = b;
  } else if ((b & 0xC0) == 0x80) {
    if (p >= end) return 0xFFFF;
    len = static_cast<uint16_t>(((b & 0x3F) << 8) | *p++);
  } else {
    return 0xFFFF;  // 11xxxxxx: fragmented form, not taken
  }
  *pos = p;
  return len;
}

int t38fIFPcheck(const uint8_t* ifp, int len) {
  if (ifp == nullptr || len < 1) return -1;
  const uint8_t* p = ifp;
  const uint8_t* end = ifp + len;
  const uint8_t t0 = *p++;
  if (t0 & 0x20) {  // extended type form: one more octet
    if (p >= end) return -1;
    ++p;
  }
  if ((t0 & 0x40) == 0) return static_cast<int>(p - ifp);  // indicator
  if ((t0 & 0x80) == 0) return -1;                         // T.30 data without a data field
  if (p >= end) return -1;
  const uint8_t count = *p++;
  if (count > 127 || count == 0) return -1;
  bool high = true;  // the next header sits in the high half of *p
  for (int f = 0; f < count; ++f) {
    if (p >= end) return -1;
    const uint8_t nib = high ? static_cast<uint8_t>(*p >> 4) : static_cast<uint8_t>(*p & 0x0F);
    if (nib & 0x8) {  // field data present: from the next octet boundary
      ++p;
      high = true;
      if (end - p < 2) return -1;
      const int octets = ((p[0] << 8) | p[1]) + 1;
      p += 2;
      // a field may be as long as the packet holds: a peer may send a frame in one IFP, and the
      // relay takes its octets in chunks of its own
      if (end - p < octets) return -1;
      p += octets;
    } else if (high) {
      high = false;
    } else {
      ++p;
      high = true;
    }
  }
  if (!high) ++p;  // a last header in a high half ends its octet
  if (p > end) return -1;
  return static_cast<int>(p - ifp);
}

bool t38fIFPplayable(const uint8_t* ifp, int len) {
  return t38fIFPcheck(ifp, len) == len && t38fIFPwalkedPlayable(ifp);
}

bool t38fIFPwalkedPlayable(const uint8_t* ifp) {
  if (ifp[0] & 0x20) return false;  // extended types (V.8, V.33, V.34): no fax-relay code
  if ((ifp[0] & 0x40) == 0) return true;
  return ((ifp[0] >> 1) & 15) <= 8 && ifp[1] <= T38_MAX_PLAYABLE_FIELDS;
}

int t38fEncodeIFP(uint8_t* out, int cap, bool isData, int type, IFP_FIELD_TYPE field0, const uint8_t* data,
                  int dataLen, IFP_FIELD_TYPE field1) {
  if (out == nullptr || cap < 1 || type < 0 || type > 15) return -1;
  if (!isData) {
    out[0] = static_cast<uint8_t>(type << 1);
    return 1;
  }
  const int need = dataLen > 0 ? dataLen + 5 + (field1 != NO_DFS ? 1 : 0) : 3 + (field1 != NO_DFS && dataLen > 0 ? 1 : 0);
  if (need > cap || need > T38_MAX_IFP || dataLen < 0 || dataLen > 65536) return -1;
  int n = 0;
  out[n++] = static_cast<uint8_t>(0xC0 | (type << 1));
  if (dataLen == 0) {
    // no data: one field of the kind given (the status of a frame end, for instance)
    const IFP_FIELD_TYPE only = field1 != NO_DFS ? field1 : field0;
    out[n++] = 1;
    out[n++] = static_cast<uint8_t>(only << 4);
    return n;
  }
  out[n++] = static_cast<uint8_t>(field1 != NO_DFS ? 2 : 1);
  out[n++] = static_cast<uint8_t>(0x80 | (field0 << 4));
  putU16(out + n, static_cast<uint16_t>(dataLen - 1));
  n += 2;
  std::memcpy(out + n, data, static_cast<size_t>(dataLen));
  n += dataLen;
  if (field1 != NO_DFS) out[n++] = static_cast<uint8_t>(field1 << 4);
  return n;
}

size_t getUDPTLpktSize(int L, int wanted, const T38IFP* history, int historyLen) {
  size_t size = static_cast<size_t>(L) + 5;
  const int n = wanted < historyLen ? wanted : historyLen;
  for (int i = 0; i < n; ++i) size += history[i].len + 1u;
  return size;
}

// ---- sending ----

void t38fUDPTXInit(T38ZUDPTX* tx) { *tx = T38ZUDPTX{}; }

namespace {

size_t writeDatagram(uint8_t* out, size_t cap, uint16_t seq, const T38IFP& primary, const T38IFP* secondaries,
                     int n) {
  const size_t size = getUDPTLpktSize(primary.len, n, secondaries, n);
  if (size > cap) return 0;
  size_t k = 0;
  putU16(out, seq);
  k += 2;
  out[k++] = primary.len;
  std::memcpy(out + k, primary.data, primary.len);
  k += primary.len;
  out[k++] = 0x00;  // secondary IFP packets
  out[k++] = static_cast<uint8_t>(n);
  for (int i = 0; i < n; ++i) {
    out[k++] = secondaries[i].len;
    std::memcpy(out + k, secondaries[i].data, secondaries[i].len);
    k += secondaries[i].len;
  }
  return k;
}

}  // namespace

size_t t38fUDPBuild(T38ZUDPTX* tx, const uint8_t* ifp, int len, int redundancy, uint8_t* out, size_t cap) {
  if (ifp == nullptr || len < 0 || len > T38_MAX_IFP) return 0;
  if (redundancy > T38_MAX_REDUNDANCY) redundancy = T38_MAX_REDUNDANCY;
  if (redundancy < 0) redundancy = 0;
  T38IFP primary{};
  primary.len = static_cast<uint8_t>(len);
  std::memcpy(primary.data, ifp, static_cast<size_t>(len));
  const int n = tx->historyLen < redundancy ? tx->historyLen : redundancy;
  const size_t size = writeDatagram(out, cap, tx->ingressSequenceNum, primary, tx->history, n);
  if (size == 0) return 0;
  tx->lastIngressSequenceNum = tx->ingressSequenceNum;
  tx->ingressSequenceNum = static_cast<uint16_t>(tx->ingressSequenceNum + 1);
  tx->lastSecondaries = n;
  // The history keeps the new packet first and the most older ones any redundancy count can ask
  // for, whatever this datagram carried: a datagram without redundancy (a burst sent with none, or
  // the end of a burst) must not cost the following ones their copies.
  const int keep = tx->historyLen < T38_MAX_REDUNDANCY ? tx->historyLen : T38_MAX_REDUNDANCY;
  for (int i = keep; i > 0; --i) tx->history[i] = tx->history[i - 1];
  tx->history[0] = primary;
  tx->historyLen = keep + 1;
  return size;
}

size_t t38fRepeatLast(const T38ZUDPTX* tx, uint8_t* out, size_t cap) {
  if (tx->historyLen == 0) return 0;  // nothing to repeat
  const int n = tx->lastSecondaries < tx->historyLen - 1 ? tx->lastSecondaries : tx->historyLen - 1;
  return writeDatagram(out, cap, tx->lastIngressSequenceNum, tx->history[0], tx->history + 1, n);
}
