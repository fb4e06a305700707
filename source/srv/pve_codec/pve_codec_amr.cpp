// AMR and AMR-WB payloads of several frames (RFC 4867): the encoder hands single-frame payloads;
// once a packet time has passed they are joined behind one codec mode request with a table of
// contents, the frames of the redundancy window first.
#include <cstring>

#include "hsf/hsf.h"
#include "lhapi.h"
#include "pve_codec.h"

namespace {

constexpr unsigned kMaxFrames = AMR_HISTORY_FRAMES + 1;
constexpr unsigned kNoData = 15;

void bytesOf(const HAPI_PKT_HDR* packet, uint8_t* out, unsigned n) {
  const auto* words = reinterpret_cast<const uint16_t*>(packet + 1);
  for (unsigned i = 0; i < n; ++i) out[i] = pvePayloadByte(words, i);
}

// Keeps a frame for the redundancy of later packets.
void amrAddToFEC(AMR_PKT_STATE* s, const uint8_t* payload, uint16_t bytes) {
  AMR_PKT_FRAME& f = s->history[s->next];
  f.bytes = bytes > AMR_SLOT_BYTES ? AMR_SLOT_BYTES : bytes;
  std::memcpy(f.payload, payload, f.bytes);
  s->next = static_cast<uint16_t>((s->next + 1) % AMR_HISTORY_FRAMES);
  if (s->stored < AMR_HISTORY_FRAMES) ++s->stored;
}

// The k-th most recent stored frame (k = 1 is the last one).
const AMR_PKT_FRAME& amrGetFec(const AMR_PKT_STATE* s, unsigned k) {
  return s->history[(s->next + AMR_HISTORY_FRAMES - k) % AMR_HISTORY_FRAMES];
}

}  // namespace

int amrConstructSuperpacket(HSZCODECINST* inst, HAPI_PKT_HDR** packetp) {
  HAPI_PKT_HDR* packet = *packetp;
  const unsigned code = packet->payloadID & 0xFF;
  const bool wideband = pveIsAmrWb(code);
  const bool oa = (code >= 26 && code <= 33) || code == 87 || (code >= 59 && code <= 67) || code == 88;
  AMR_PKT_STATE* s = vocoderAmrPktState(inst->enc.encPool);
  uint8_t current[AMR_SLOT_BYTES] = {};
  const uint16_t bytes = packet->payloadLength > AMR_SLOT_BYTES ? AMR_SLOT_BYTES : packet->payloadLength;
  bytesOf(packet, current, bytes);

  unsigned n = (s->ptime + s->red) / 20;
  if (n < 1) n = 1;
  if (n > s->stored + 1u) n = s->stored + 1u;
  s->elapsed = static_cast<uint16_t>(s->elapsed + 20);
  if (s->elapsed < s->ptime) {
    amrAddToFEC(s, current, bytes);
    return 1;
  }
  s->elapsed = 0;

  // The frames oldest first; the current one last.
  const uint8_t* frames[kMaxFrames];
  unsigned modes[kMaxFrames];
  unsigned speechBits = 0;
  for (unsigned k = 0; k < n; ++k) {
    frames[k] = k + 1 < n ? amrGetFec(s, n - 1 - k).payload : current;
    modes[k] = amrGetMode(frames[k], oa);
    speechBits += amrGetModeBits(modes[k], wideband, oa);
  }
  if (speechBits == 0) {
    amrAddToFEC(s, current, bytes);
    return 1;
  }
  const unsigned headerBits = oa ? 8 + 8 * n : 4 + 6 * n;
  const unsigned total = (headerBits + speechBits + 7) / 8;
  auto* out = static_cast<HAPI_PKT_HDR*>(hsfMemAllocScratch(sizeof(HAPI_PKT_HDR) + ((total + 1) & ~1u)));
  if (out == nullptr) {
    amrAddToFEC(s, current, bytes);
    return 1;
  }
  uint8_t built[sizeof(AMR_PKT_FRAME) * kMaxFrames] = {};
  unsigned bit = 0;
  built[0] = 0xF0;  // no mode request
  bit = oa ? 8 : 4;
  for (unsigned k = 0; k < n; ++k) {
    const unsigned f = k + 1 < n ? 1 : 0;
    const uint8_t entry = static_cast<uint8_t>(f << 5 | (modes[k] & 15) << 1 | 1);  // F, FT, Q
    bit += hsfCopyBits(built, bit, &entry, 2, 6, oa);
  }
  for (unsigned k = 0; k < n; ++k) {
    const unsigned count = amrGetModeBits(modes[k], wideband, oa);
    if (count == 0 || modes[k] == kNoData) continue;
    bit += hsfCopyBits(built, bit, frames[k], oa ? 16 : 10, count, false);
  }
  auto* words = reinterpret_cast<uint16_t*>(out + 1);
  std::memset(words, 0, (total + 1) & ~1u);
  for (unsigned i = 0; i < total; ++i) pvePayloadPutByte(words, i, built[i]);
  // The packet is stamped with its first frame's time. Timestamps count 8 kHz ticks for either
  // codec, so one 20 ms frame is 160 ticks.
  const uint32_t ts = (static_cast<uint32_t>(packet->payloadTimeStampHigh) << 16 | packet->payloadTimeStampLow) - (n - 1) * 160u;
  *out = HAPI_PKT_HDR{packet->payloadID, static_cast<uint16_t>(total), static_cast<uint16_t>(ts >> 16),
                      static_cast<uint16_t>(ts)};
  amrAddToFEC(s, current, bytes);
  *packetp = out;
  return 0;
}
