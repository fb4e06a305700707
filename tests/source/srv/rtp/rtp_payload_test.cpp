// Payload work without a channel: the two G.726 code-word orders against the worked vectors and
// against an independent G.726 coder's two packings, the AMR payload checks and corrections, and
// the splitting of multi-frame AMR payloads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "rtp_payload.h"

namespace {

std::vector<uint8_t> encodeCopy(std::vector<uint8_t> b, unsigned code) {
  G726_I366_2_Annex_E_encode(b.data(), static_cast<unsigned>(b.size()), code);
  return b;
}

// The receive side works on host-order words: swap into that order, decode, swap back.
std::vector<uint8_t> decodeCopy(std::vector<uint8_t> b, unsigned code) {
  b.push_back(0);  // the byte behind an odd payload
  swapBytes(b.data(), static_cast<unsigned>(b.size() - 1));
  G726_I366_2_Annex_E_decode(b.data(), static_cast<unsigned>(b.size() - 1), code);
  swapBytes(b.data(), static_cast<unsigned>(b.size() - 1));
  b.pop_back();
  return b;
}

TEST(AnnexEPacking, WorkedVectors) {
  EXPECT_EQ(encodeCopy({0x1B}, HAPI_PKT_VC_G726_16), std::vector<uint8_t>{0xE4});
  EXPECT_EQ(decodeCopy({0x1B, 0x00}, HAPI_PKT_VC_G726_16), (std::vector<uint8_t>{0xE4, 0x00}));
  EXPECT_EQ(encodeCopy({0x12, 0x34, 0x56}, HAPI_PKT_VC_G726_32), (std::vector<uint8_t>{0x21, 0x43, 0x56}));
  // Code words 1..7, 0 packed first-word-lowest.
  uint32_t w = 0;
  const unsigned words[8] = {1, 2, 3, 4, 5, 6, 7, 0};
  for (unsigned k = 0; k < 8; ++k) w |= words[k] << (3 * k);
  const std::vector<uint8_t> rfc = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16)};
  EXPECT_EQ(encodeCopy(rfc, HAPI_PKT_VC_G726_24), (std::vector<uint8_t>{0x29, 0xCB, 0xB8}));
  EXPECT_EQ(decodeCopy({0x29, 0xCB, 0xB8}, HAPI_PKT_VC_G726_24), rfc);
  // 31 bytes at 24 kbit/s: ten groups repacked, the last byte untouched; other codes untouched.
  std::vector<uint8_t> odd(31);
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<uint8_t>(37 * i + 11);
  const std::vector<uint8_t> enc = encodeCopy(odd, HAPI_PKT_VC_G726_24);
  EXPECT_EQ(enc[30], odd[30]);
  EXPECT_NE(std::vector<uint8_t>(enc.begin(), enc.begin() + 30),
            std::vector<uint8_t>(odd.begin(), odd.begin() + 30));
  EXPECT_EQ(decodeCopy(enc, HAPI_PKT_VC_G726_24), odd);
  EXPECT_EQ(encodeCopy(odd, HAPI_PKT_VC_G711_ULAW), odd);
}

// Speech-like test signal: two tones and a little deterministic noise.
std::vector<int16_t> testSignal(size_t n) {
  std::vector<int16_t> s(n);
  uint32_t seed = 12345;
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double v = 6000 * std::sin(2 * M_PI * 440 * i / 8000.0) +
                     3000 * std::sin(2 * M_PI * 1230 * i / 8000.0) + static_cast<int>((seed >> 16) % 2001) -
                     1000;
    s[i] = static_cast<int16_t>(v);
  }
  return s;
}

std::vector<uint8_t> spandspEncode(int bitRate, int packing, const std::vector<int16_t>& pcm) {
  g726_state_t* st = g726_init(nullptr, bitRate, G726_ENCODING_LINEAR, packing);
  std::vector<uint8_t> out(pcm.size());
  const int n = g726_encode(st, out.data(), pcm.data(), static_cast<int>(pcm.size()));
  g726_free(st);
  out.resize(static_cast<size_t>(n));
  return out;
}

// The independent coder writes the same code words in both orders; our repacking must turn one
// into the other on every whole group, both ways.
TEST(AnnexEPacking, AgreesWithAnIndependentCodersTwoPackings) {
  const std::vector<int16_t> pcm = testSignal(8000);
  struct Rate {
    int bitRate;
    unsigned code;
    unsigned groupBytes;
  };
  for (const Rate& r : {Rate{16000, HAPI_PKT_VC_G726_16, 1}, Rate{24000, HAPI_PKT_VC_G726_24, 3},
                        Rate{32000, HAPI_PKT_VC_G726_32, 1}, Rate{40000, HAPI_PKT_VC_G726_40, 5}}) {
    SCOPED_TRACE(r.bitRate);
    const std::vector<uint8_t> lowFirst = spandspEncode(r.bitRate, G726_PACKING_RIGHT, pcm);
    const std::vector<uint8_t> highFirst = spandspEncode(r.bitRate, G726_PACKING_LEFT, pcm);
    ASSERT_EQ(lowFirst.size(), highFirst.size());
    const size_t whole = lowFirst.size() / r.groupBytes * r.groupBytes;
    ASSERT_GT(whole, 0u);
    const std::vector<uint8_t> a(lowFirst.begin(), lowFirst.begin() + whole);
    const std::vector<uint8_t> b(highFirst.begin(), highFirst.begin() + whole);
    ASSERT_NE(a, b);
    EXPECT_EQ(encodeCopy(a, r.code), b);
    EXPECT_EQ(decodeCopy(b, r.code), a);
  }
}

// ---- AMR ----

// Writes bits most significant first.
struct BitWriter {
  std::vector<uint8_t> bytes;
  unsigned pos = 0;
  void put(unsigned value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      if ((pos >> 3) >= bytes.size()) bytes.push_back(0);
      if ((value >> i) & 1) bytes[pos >> 3] |= static_cast<uint8_t>(0x80 >> (pos & 7));
      ++pos;
    }
  }
};

struct Frame {
  unsigned ft;
  std::vector<uint8_t> bits;  // one bit per element
};

Frame makeFrame(unsigned ft, bool wideband, unsigned seed) {
  Frame f{ft, {}};
  const int n = amrCoreFrameSize(ft, wideband, false);
  for (int i = 0; i < n; ++i) f.bits.push_back(static_cast<uint8_t>(((i * 7 + seed * 13) >> 2) & 1));
  return f;
}

std::vector<uint8_t> efficientPayload(unsigned cmr, const std::vector<Frame>& frames) {
  BitWriter w;
  w.put(cmr, 4);
  for (size_t i = 0; i < frames.size(); ++i)
    w.put(((i + 1 < frames.size()) << 5) | (frames[i].ft << 1) | 1, 6);
  for (const Frame& f : frames) {
    for (uint8_t b : f.bits) w.put(b, 1);
  }
  return w.bytes;
}

std::vector<uint8_t> alignedPayload(unsigned cmr, const std::vector<Frame>& frames) {
  BitWriter w;
  w.put(cmr << 4, 8);
  for (size_t i = 0; i < frames.size(); ++i)
    w.put(((i + 1 < frames.size()) << 7) | (frames[i].ft << 3) | 4, 8);
  for (const Frame& f : frames) {
    for (uint8_t b : f.bits) w.put(b, 1);
    while (w.pos & 7) w.put(0, 1);
  }
  return w.bytes;
}

std::vector<uint8_t> packet(uint16_t payloadID, uint16_t ts, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> p(8 + payload.size() + 2, 0);
  const HAPI_PKT_EGRESS_HDR h{payloadID, static_cast<uint16_t>(payload.size()), 8, ts};
  std::memcpy(p.data(), &h, 8);
  std::memcpy(p.data() + 8, payload.data(), payload.size());
  return p;
}

HAPI_PKT_EGRESS_HDR* hdr(std::vector<uint8_t>& p) { return reinterpret_cast<HAPI_PKT_EGRESS_HDR*>(p.data()); }

TEST(AmrPayload, ChecksTellTheTwoFormsApart) {
  const std::vector<Frame> frames = {makeFrame(7, false, 1), makeFrame(7, false, 2)};
  const std::vector<uint8_t> be = efficientPayload(15, frames);
  const std::vector<uint8_t> oa = alignedPayload(15, frames);
  EXPECT_EQ(amrCheckPkt(be.data(), unsigned(be.size()), false), 0);
  EXPECT_NE(amrCheckPktOA(be.data(), unsigned(be.size()), false), 0);
  EXPECT_EQ(amrCheckPktOA(oa.data(), unsigned(oa.size()), false), 0);
  EXPECT_NE(amrCheckPkt(oa.data(), unsigned(oa.size()), false), 0);
  // One byte short, or a table of contents running off the end: inconsistent.
  EXPECT_NE(amrCheckPkt(be.data(), unsigned(be.size() - 1), false), 0);
  const uint8_t allF[2] = {0xFF, 0xFF};
  EXPECT_NE(amrCheckPkt(allF, 2, false), 0);
  EXPECT_NE(amrCheckPktOA(allF, 2, false), 0);
  const std::vector<Frame> wb = {makeFrame(8, true, 3)};
  const std::vector<uint8_t> wbe = efficientPayload(2, wb);
  EXPECT_EQ(amrCheckPkt(wbe.data(), unsigned(wbe.size()), true), 0);
  EXPECT_EQ(amrCoreFrameSize(9, true, true), 40);   // the wideband SID stays unrounded
  EXPECT_EQ(amrCoreFrameSize(8, false, true), 40);  // narrowband SID 39 -> 40
  EXPECT_EQ(amrCoreFrameSize(10, false, false), AMR_FRAME_SIZE_INVALID);
}

TEST(AmrPayload, CorrectionsFollowThePayloadNotTheLabel) {
  const std::vector<Frame> frames = {makeFrame(5, false, 1)};
  // Labelled octet-aligned but carrying the efficient form: relabelled 18 + 5.
  std::vector<uint8_t> p = packet(0x0100 | 31, 100, efficientPayload(3, frames));
  ASSERT_NE(rtpXmeToQrn(hdr(p), 100), nullptr);
  EXPECT_EQ(hdr(p)->payloadID, 0x0100 | 23);
  // Labelled efficient but carrying the octet-aligned form: relabelled 26 + 5.
  p = packet(0x0100 | 23, 100, alignedPayload(0, frames));
  ASSERT_NE(rtpXmeToQrn(hdr(p), 100), nullptr);
  EXPECT_EQ(hdr(p)->payloadID, 0x0100 | 31);
  // Neither form: rejected.
  p = packet(0x0100 | 31, 100, {0x00, 0x04, 0x01});
  EXPECT_EQ(rtpXmeToQrn(hdr(p), 100), nullptr);
  // G.729: 2 bytes is a SID, 5 bytes is rejected; G.723.1 frame type from the first byte.
  p = packet(0x0100 | HAPI_PKT_VC_G729A_8, 0, {1, 2});
  ASSERT_NE(rtpXmeToQrn(hdr(p), 0), nullptr);
  EXPECT_EQ(hdr(p)->payloadID, 0x0252);
  p = packet(0x0100 | HAPI_PKT_VC_G729_8, 0, {1, 2, 3, 4, 5});
  EXPECT_EQ(rtpXmeToQrn(hdr(p), 0), nullptr);
  p = packet(0x0100 | HAPI_PKT_VC_G7231_63, 0, {0x02, 0, 0, 0});
  ASSERT_NE(rtpXmeToQrn(hdr(p), 0), nullptr);
  EXPECT_EQ(hdr(p)->payloadID, 0x0253);
  p = packet(0x0100 | HAPI_PKT_VC_G7231_VARIABLE, 0, std::vector<uint8_t>(20, 0x01));
  ASSERT_NE(rtpXmeToQrn(hdr(p), 0), nullptr);
  EXPECT_EQ(hdr(p)->payloadID, 0x0100 | HAPI_PKT_VC_G7231_53);
  // Word-held codes come back in host order; time stamps in the engine's units.
  p = packet(0x0100 | HAPI_PKT_VC_G711_ULAW, 0, {1, 2, 3});
  ASSERT_NE(rtpXmeToQrn(hdr(p), 0x12345), nullptr);
  EXPECT_EQ(p[8], 2);
  EXPECT_EQ(p[9], 1);
  EXPECT_EQ(p[11], 3);
  EXPECT_EQ(hdr(p)->payloadTimeStampLow, 0x2345);
  p = packet(0x0100 | HAPI_PKT_VC_G711WB_ULAW, 0, {1, 2});
  ASSERT_NE(rtpXmeToQrn(hdr(p), 640), nullptr);
  EXPECT_EQ(hdr(p)->payloadTimeStampLow, 320);
  p = packet(0x0100 | 36, 0, {1, 2});
  ASSERT_NE(rtpXmeToQrn(hdr(p), 960), nullptr);
  EXPECT_EQ(hdr(p)->payloadTimeStampLow, 160);
  EXPECT_EQ(p[8], 2);  // Opus as every other payload: the engine's words
  EXPECT_EQ(p[9], 1);
}

// A byte stream as the engine holds it: two bytes to a host-order word, the earlier byte in the
// high half (padded to whole words).
std::vector<uint8_t> engineWords(std::vector<uint8_t> bytes) {
  if (bytes.size() % 2) bytes.push_back(0);
  for (size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

struct SplitSink {
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint16_t> modeRequests;
  std::vector<std::vector<uint8_t>> storage;
  RtpAmrSink sink() {
    return RtpAmrSink{[](void* c, HAPI_PKT_EGRESS_HDR* h) {
                        auto* self = static_cast<SplitSink*>(c);
                        const auto* b = reinterpret_cast<const uint8_t*>(h);
                        self->packets.emplace_back(b, b + 8 + ((h->payloadLength + 1) & ~1));
                      },
                      [](void* c, uint16_t cmr) { static_cast<SplitSink*>(c)->modeRequests.push_back(cmr); },
                      [](void* c, size_t n) -> void* {
                        auto* self = static_cast<SplitSink*>(c);
                        self->storage.emplace_back(n);
                        return self->storage.back().data();
                      },
                      this};
  }
};

TEST(AmrPayload, MultiFramePacketsSplitIntoOnePacketPerFrame) {
  for (bool aligned : {false, true}) {
    SCOPED_TRACE(aligned ? "octet-aligned" : "bandwidth-efficient");
    const std::vector<Frame> frames = {makeFrame(7, false, 1), makeFrame(15, false, 0),
                                       makeFrame(2, false, 3)};
    const std::vector<uint8_t> payload = aligned ? alignedPayload(5, frames) : efficientPayload(5, frames);
    std::vector<uint8_t> p = packet(0x0100 | (aligned ? 33 : 25), 1000, payload);
    SplitSink s;
    EXPECT_EQ(rfc3267ProcessEgress(hdr(p), s.sink()), 3u);
    EXPECT_EQ(s.modeRequests, std::vector<uint16_t>{5});
    ASSERT_EQ(s.packets.size(), 2u);  // the NO_DATA frame sends nothing but keeps its time
    const unsigned base = aligned ? 26 : 18;
    for (size_t k = 0; k < 2; ++k) {
      std::vector<uint8_t>& q = s.packets[k];
      const Frame& f = frames[k == 0 ? 0 : 2];
      EXPECT_EQ(hdr(q)->payloadID, 0x0100 | (base + f.ft));
      EXPECT_EQ(hdr(q)->payloadTimeStampLow, k == 0 ? 1000 : 1320);
      const std::vector<uint8_t> single(q.begin() + 8, q.end());
      const std::vector<uint8_t> expected = aligned ? alignedPayload(5, {f}) : efficientPayload(5, {f});
      EXPECT_EQ(hdr(q)->payloadLength, expected.size());
      EXPECT_EQ(single, engineWords(expected));
    }
  }
  // A mode request above the highest narrowband mode is ignored; wideband takes mode 8.
  SplitSink nb;
  std::vector<uint8_t> p = packet(0x0100 | 25, 0, efficientPayload(8, {makeFrame(7, false, 1)}));
  EXPECT_EQ(rfc3267ProcessEgress(hdr(p), nb.sink()), 1u);
  EXPECT_TRUE(nb.modeRequests.empty());
  SplitSink wb;
  p = packet(0x0100 | 58, 0, efficientPayload(8, {makeFrame(8, true, 1)}));
  EXPECT_EQ(rfc3267ProcessEgress(hdr(p), wb.sink()), 1u);
  EXPECT_EQ(wb.modeRequests, std::vector<uint16_t>{8});
  // Thirteen entries: delivered whole; a table of contents past the end: delivered whole.
  std::vector<Frame> many(13, makeFrame(0, false, 1));
  p = packet(0x0100 | 18, 0, efficientPayload(15, many));
  SplitSink whole;
  EXPECT_EQ(rfc3267ProcessEgress(hdr(p), whole.sink()), 0u);
  p = packet(0x0100 | 18, 0, {0xFF});
  EXPECT_EQ(rfc3267ProcessEgress(hdr(p), whole.sink()), 0u);
  EXPECT_TRUE(whole.packets.empty());
}

TEST(AmrPayload, BitCopyPadsTheLastByte) {
  const uint8_t src[2] = {0xB6, 0xFF};
  uint8_t dst[2] = {0xFF, 0xFF};
  EXPECT_EQ(hsfCopyBits(dst, 2, src, 1, 5, true), 6u);
  EXPECT_EQ(dst[0], 0xDA);  // 11 01101 0
  EXPECT_EQ(dst[1], 0xFF);
  EXPECT_EQ(getbits(src, 6, 3), 0x2Du);
}

}  // namespace
