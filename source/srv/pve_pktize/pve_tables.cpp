#include "pve_tables.h"

#include <algorithm>
#include <array>

namespace {

using Table = std::array<uint16_t, HAPI_PKT_VC_ALG_MAX>;

constexpr Table fill(uint16_t v) {
  Table t{};
  for (auto& x : t) x = v;
  return t;
}

constexpr void set(Table& t, int from, int to, uint16_t v) {
  for (int c = from; c <= to; ++c) t[c] = v;
}

constexpr Table opusTimes(Table t) {
  constexpr uint16_t kOpus[5] = {40, 80, 160, 320, 480};
  for (int i = 0; i < 5; ++i) t[36 + i] = t[68 + i] = kOpus[i];
  return t;
}

// Packet time (encoder and decoder alike, but for iSAC's decoder).
constexpr Table packetTimes() {
  Table t = fill(40);
  set(t, 6, 8, 80);
  set(t, 9, 10, 240);
  set(t, 14, 14, 160);
  set(t, 15, 15, 240);
  set(t, 16, 33, 160);
  set(t, 35, 35, 160);
  set(t, 45, 49, 80);
  set(t, 50, 67, 160);
  set(t, 73, 74, 80);
  return opusTimes(t);
}

constexpr Table maxPktTimes() {
  Table t = fill(320);
  set(t, 9, 10, 240);
  set(t, 13, 13, 160);
  set(t, 14, 14, 640);
  set(t, 15, 15, 720);
  set(t, 16, 17, 640);
  set(t, 18, 33, 1920);
  set(t, 35, 35, 640);
  set(t, 36, 40, 960);
  set(t, 41, 42, 160);
  set(t, 45, 49, 640);
  set(t, 50, 67, 1920);
  set(t, 68, 72, 960);
  t[73] = 480;
  t[74] = 960;
  return t;
}

constexpr Table decPacketTimes() {
  Table t = packetTimes();
  t[73] = 240;
  t[74] = 480;
  return t;
}

constexpr Table decThreadRates() {
  Table t = decPacketTimes();
  t[11] = t[12] = t[13] = 80;
  return t;
}

constexpr Table pktSizes() {
  Table t = fill(0);
  t[0] = t[1] = 40;
  t[2] = 10, t[3] = 15, t[4] = 20, t[5] = 25;
  t[6] = 10;
  t[9] = 20, t[10] = 24;
  t[13] = 80;
  t[14] = 38, t[15] = 50;
  t[16] = 33, t[17] = 31;
  constexpr uint16_t kAmrBe[8] = {14, 15, 16, 18, 20, 22, 27, 32};
  constexpr uint16_t kAmrOa[8] = {14, 15, 17, 19, 21, 22, 28, 33};
  for (int i = 0; i < 8; ++i) t[18 + i] = kAmrBe[i], t[26 + i] = kAmrOa[i];
  t[35] = 15;
  set(t, 36, 40, 1275);
  set(t, 45, 47, 80);
  constexpr uint16_t kWbBe[9] = {18, 24, 33, 37, 41, 47, 51, 59, 61};
  constexpr uint16_t kWbOa[9] = {19, 25, 34, 38, 42, 48, 52, 60, 62};
  for (int i = 0; i < 9; ++i) t[50 + i] = kWbBe[i], t[59 + i] = kWbOa[i];
  set(t, 68, 72, 1275);
  t[73] = 400;
  t[74] = 600;
  return t;
}

// Words behind the encoder state for the superpacket under construction.
constexpr Table superpacketWords() {
  Table t = fill(0);
  t[0] = t[1] = t[13] = 164;
  set(t, 2, 5, 108);
  set(t, 6, 8, 24);
  set(t, 9, 10, 16);
  t[14] = 80, t[15] = 79, t[16] = 72, t[17] = 68;
  set(t, 18, 33, 208);
  t[35] = 36;
  set(t, 36, 40, 15316);
  set(t, 45, 47, 324);
  set(t, 50, 67, 376);
  set(t, 68, 72, 15316);
  t[73] = t[74] = 604;
  return t;
}

constexpr Table replayTimes() {
  Table t = fill(320);
  for (int c : {6, 7, 8, 9, 10, 14, 15, 73, 74}) t[c] = 480;
  return t;
}

constexpr Table kPacketTime = packetTimes();
constexpr Table kMaxPktTime = maxPktTimes();
constexpr Table kDecPacketTime = decPacketTimes();
constexpr Table kDecThreadRate = decThreadRates();
constexpr Table kPktSize = pktSizes();
constexpr Table kSuperWords = superpacketWords();
constexpr Table kReplay = replayTimes();

// The jitter buffer's memory as sized for the original decoder regions; it grows by what a
// wrapper's decoder needs beyond that.
constexpr uint32_t kDecJbBaseWords = 15938;
constexpr uint32_t kOpusDecRegionWords = 26616 / 2;

uint16_t words(size_t bytes) { return static_cast<uint16_t>((bytes + 1) / 2); }

PVE_SIZE_TABLES build() {
  PVE_SIZE_TABLES s{};
  vocoderInit();
  uint32_t largestDecInst = 0;
  for (unsigned code = 0; code < HAPI_PKT_VC_ALG_MAX; ++code) {
    const unsigned alg = hsgpvealg[code];
    const bool usable = vocoderUsable(hsgvocoders[alg]) && kPktSize[code] != 0;
    s.pveEncInstSize[code] = usable ? words(vocoderEncStateBytes(alg)) : 0;
    const uint32_t pool = usable ? s.pveEncInstSize[code] + kSuperWords[code] : 0;
    s.pveEncPoolSize[code] = static_cast<uint16_t>(pool);
    if (pool > s.maxEncPoolWords) s.maxEncPoolWords = static_cast<uint16_t>(pool);
    // Decoder instance in 8-byte units so the queue behind it stays aligned.
    const size_t decBytes = usable ? PVE_DEC_HDR_BYTES + vocoderDecStateBytes(alg) : 0;
    s.decInstSize[code] = static_cast<uint16_t>(((decBytes + 7) / 8) * 4);
    largestDecInst = std::max<uint32_t>(largestDecInst, s.decInstSize[code]);
    // A slot holds the largest frame of the code and whatever the wrapper copies.
    s.decPktSize[code] = std::max<uint16_t>({kPktSize[code], vocoderDecCopyBytes(alg), uint16_t{2}});
  }
  const uint32_t extra = largestDecInst > kOpusDecRegionWords ? largestDecInst - kOpusDecRegionWords : 0;
  s.decJbWords = static_cast<uint16_t>(std::min<uint32_t>(kDecJbBaseWords + extra, 65532));
  s.ajcTableEntries = AJC_TABLE_ENTRIES{kDecPacketTime.data(), s.decInstSize, s.decPktSize, kReplay.data()};
  return s;
}

}  // namespace

const PVE_CODE_TABLE pveEncPacketTime = kPacketTime;
const PVE_CODE_TABLE pveEncThreadRate = kPacketTime;
const PVE_CODE_TABLE pveEncMaxPktTime = kMaxPktTime;
const PVE_CODE_TABLE hsgpvepackettime = kDecPacketTime;
const PVE_CODE_TABLE pveDecThreadRate = kDecThreadRate;
const PVE_CODE_TABLE hsgpvepktsize = kPktSize;
const PVE_CODE_TABLE pveDecPktReplay = kReplay;

const PVE_SIZE_TABLES& pveTablesInit() {
  static const PVE_SIZE_TABLES tables = build();
  return tables;
}
