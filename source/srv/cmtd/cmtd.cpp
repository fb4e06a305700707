// Call-progress tone detection: detectors, cadence machines and commands.
#include "cmtd.h"

#include <cstring>

#include "dsputil.h"
#include "qrn/qrn.h"

const HSFSRVARC cmtdarc = {HAPI_CMTD_SRV, sizeof(CMTDINSTANCEMEM), cmtdIOctl, cmtdIngress, cmtdEgress, cmtdInit, nullptr};

namespace {

constexpr UINT32 kPowerRef = 256647168u;  // 0 dB block power
constexpr uint16_t kMaxMs = 61000;
constexpr uint16_t kBridgeMs = 10;
constexpr uint16_t kNoMax = 0xFFFF;

void advance(CMTD_STATE_FILTER& f) {
  if (f.detectedMs < kMaxMs) f.detectedMs = static_cast<uint16_t>(f.detectedMs + 5);
}

void absent(CMTD_STATE_FILTER& f) {
  f.glitchMs = static_cast<uint16_t>(f.glitchMs + 5);
  if (f.glitchMs > kBridgeMs) f.detectedMs = f.glitchMs = 0;
}

uint32_t blockPower(const int16_t* x) {
  uint32_t p = 0;
  for (int i = -16; i < 0; ++i) p += static_cast<uint32_t>(int32_t{x[i]} * x[i]) >> 4;
  return p;
}

// Energy of the tone filter's 16 outputs centred on the 16 samples before the block.
uint32_t filteredEnergy(const cmtdsrv::HAPI_CMTD_FILTERCOEFS& f, const int16_t* x) {
  uint64_t e = 0;
  for (int k = 0; k < 16; ++k) {
    int32_t acc = 0;
    for (int j = 0; j < CMTD_TAPS; ++j) acc += int32_t{f.filterTaps[j]} * x[k - 55 + j];
    const int32_t y = acc >> 15;
    e += static_cast<uint64_t>(int64_t{y} * y);
  }
  e >>= 4;
  return e > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(e);
}

void toneDetector(CMTDINSTANCEMEM* c, int f, bool silent, const int16_t* x, uint32_t P) {
  CMTD_STATE_FILTER& st = c->state.filter[1 + f];
  const bool enabled = (c->state.enabledOptions & (1u << (1 + f))) != 0;
  if (silent || !enabled) {
    absent(st);
    return;
  }
  const cmtdsrv::HAPI_CMTD_FILTERCOEFS& coefs = c->cmtdGlobalMem.filterCoefs[f];
  const uint32_t E = filteredEnergy(coefs, x);
  const uint64_t T = P < (1u << 24) ? ((uint64_t{coefs.minAttenuation} >> 4) * (P >> 4)) >> 8
                                    : uint64_t{coefs.minAttenuation} * (P >> 16);
  if (st.detectedMs != 0) advance(st);
  if (E < T && P >= hsfdB10(-40, kPowerRef)) {
    if (st.detectedMs == 0) st.detectedMs = 5;
    st.glitchMs = 0;
  } else {
    absent(st);
  }
}

void cadence(CMTDINSTANCEMEM* c, int m) {
  CMTD_STATE_STM& st = c->state.stm[m];
  const cmtdsrv::HAPI_CMTD_STMPARAMS& params = c->cmtdGlobalMem.stmParams[m];
  const uint16_t s = st.currentSubState < CMTD_SUBSTATES ? st.currentSubState : 0;
  const cmtdsrv::HAPI_CMTD_SUBSTATEPARAMS& p = params.substate[s];
  const uint16_t d = c->state.filter[p.activeFilter <= CMTD_TONE_FILTERS ? p.activeFilter : 0].detectedMs;
  const bool last = p.maxTimeMs == kNoMax;
  const uint16_t next = (s < CMTD_SUBSTATES - 1 && params.substate[s + 1].maxTimeMs != 0) ? s + 1 : 0;
  if (d > p.maxTimeMs) {
    if (st.genEvent & 0x2) hsfObdSendStd(HAPI_CMTD_TONE_END_EVT, static_cast<uint16_t>(m), s);
    st.genEvent = 0;
    st.currentSubState = 0;
  } else if (d >= p.minTimeMs && d != 0) {
    if (!(st.genEvent & 0x1)) {
      st.genEvent |= 0x1;
      if (last && !(st.genEvent & 0x2)) {
        hsfObdSendStd(HAPI_CMTD_TONE_DET_EVT, static_cast<uint16_t>(m), s);
        st.genEvent |= 0x2;
      }
    }
  } else if (d == 0) {
    if (!(st.genEvent & 0x1)) {
      if (st.genEvent & 0x2) hsfObdSendStd(HAPI_CMTD_TONE_END_EVT, static_cast<uint16_t>(m), s);
      st.genEvent = 0;
      st.currentSubState = 0;
      return;
    }
    if (next == 0 && !(st.genEvent & 0x2)) {
      hsfObdSendStd(HAPI_CMTD_TONE_DET_EVT, static_cast<uint16_t>(m), s);
      st.genEvent |= 0x2;
    }
    st.currentSubState = next;
    st.genEvent &= static_cast<uint16_t>(~0x1);
  }
}

HAPIRESULT enable(CMTDINSTANCEMEM* c, uint16_t flags, uint16_t which) {
  CMTD_STATE& st = c->state;
  if (!(st.enabledOptions & 0x1)) st = CMTD_STATE{};
  const unsigned f = which & 0xFF, m = which >> 8;
  if (f >= CMTD_TONE_FILTERS || m >= CMTD_MACHINES) return HAPIFAILURE;
  auto filterBit = [](unsigned i) { return 1u << (1 + i); };
  auto machineBit = [](unsigned i) { return 1u << (8 + i); };
  unsigned o = st.enabledOptions;
  if (flags & 0x0010) o |= filterBit(f);
  if (flags & 0x0020) o |= machineBit(m);
  if (flags & 0x0040) for (unsigned i = 0; i <= f; ++i) o |= filterBit(i);
  if (flags & 0x0080) for (unsigned i = 0; i <= m; ++i) o |= machineBit(i);
  if (flags & 0x0100) o &= ~filterBit(f);
  if (flags & 0x0200) o &= ~machineBit(m);
  if (flags & 0x0400) for (unsigned i = 0; i <= f; ++i) o &= ~filterBit(i);
  if (flags & 0x0800) for (unsigned i = 0; i <= m; ++i) o &= ~machineBit(i);
  if (flags & 0x0001) o |= 0x1;
  if (flags & 0x1000) o &= ~0x1u;
  st.enabledOptions = static_cast<uint16_t>(o);
  return HAPISUCCESS;
}

}  // namespace

void cmtdDetector(CMTDINSTANCEMEM* c, const int16_t* x) {
  const uint32_t P = blockPower(x);
  c->state.power = P;
  CMTD_STATE_FILTER& sil = c->state.filter[0];
  advance(sil);
  const bool silent = P < hsfdB10(-42, kPowerRef);
  if (silent) {
    sil.glitchMs = 0;
  } else {
    absent(sil);
  }
  for (int f = 0; f < CMTD_TONE_FILTERS; ++f) toneDetector(c, f, silent, x, P);
  for (int m = 0; m < CMTD_MACHINES; ++m) {
    if (c->state.enabledOptions & (1u << (8 + m))) cadence(c, m);
  }
}

HAPIRESULT cmtdInit(HSFSRVOBJ srvp) {
  std::memset(srvp, 0, sizeof(CMTDINSTANCEMEM));
  return HAPISUCCESS;
}

void cmtdIngress(HSFSRVOBJ srvp) {
  auto* c = static_cast<CMTDINSTANCEMEM*>(srvp);
  if (!(c->state.enabledOptions & 0x1)) return;
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const int16_t* media = socket->memDesc[HSF_MEDQ_LOWBAND];
  const int frame = hsfFrmPeriodGet();
  for (int b = 0; b + 40 <= frame; b += 40) cmtdDetector(c, media + b);
}

void cmtdEgress(HSFSRVOBJ) {}

HAPIRESULT cmtdIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply) {
  auto* c = static_cast<CMTDINSTANCEMEM*>(srvp);
  switch (cmd->std.header) {
    case HAPI_CMTD_FILTER_CMD: {
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(cmtdsrv::HAPI_CMTD_FILTER)) return HAPIFAILURE;
      cmtdsrv::HAPI_CMTD_FILTER f;
      std::memcpy(&f, cmd->ext.bufp, sizeof(f));
      if (f.index >= CMTD_TONE_FILTERS) return HAPIFAILURE;
      c->cmtdGlobalMem.filterCoefs[f.index] = f.coefs;
      return HAPISUCCESS;
    }
    case HAPI_CMTD_STM_CMD: {
      if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(cmtdsrv::HAPI_CMTD_STM)) return HAPIFAILURE;
      cmtdsrv::HAPI_CMTD_STM s;
      std::memcpy(&s, cmd->ext.bufp, sizeof(s));
      if (s.index >= CMTD_MACHINES) return HAPIFAILURE;
      for (const auto& sub : s.stmParams.substate) {
        if (sub.activeFilter > CMTD_TONE_FILTERS) return HAPIFAILURE;  // no such detector
      }
      c->cmtdGlobalMem.stmParams[s.index] = s.stmParams;
      return HAPISUCCESS;
    }
    case HAPI_CMTD_POWER_CMD:
      c->powerReply = c->state.power;
      if (reply != nullptr) {
        reply->ext.header = cmd->std.header;
        reply->ext.length = sizeof(c->powerReply);
        reply->ext.bufp = &c->powerReply;
      }
      return HAPISUCCESS;
    case HAPI_CMTD_ENABLE_CMD:
      return enable(c, cmd->std.op1, cmd->std.op2);
    default:
      return HAPI_ERR_UNKNOWN_MESSAGE;
  }
}
