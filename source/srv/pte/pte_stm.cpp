// The digit detector's timing state machine: one step per 40-sample block, turning the block
// detector's verdicts into digit events for the host and relay messages for the packet side.
#include "lhapi.h"
#include "pte.h"

const DTDET_CFG dtmfdCfgParams = {
    2, {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, 2, 5, 5, 3, 12,
};

namespace {

struct DirCodes {
  uint16_t on, off, abort;
};
constexpr DirCodes kCodes[2] = {
    {HAPI_PTE_TONE_ON_EVT, HAPI_PTE_TONE_OFF_EVT, HAPI_PTE_ABORT_TONE_EVT},
    {HAPI_PTE_TONE_ON_EGRESS_EVT, HAPI_PTE_TONE_OFF_EGRESS_EVT, HAPI_PTE_ABORT_TONE_EGRESS_EVT},
};

uint16_t bit(int digit) { return static_cast<uint16_t>(1u << digit); }

// Minimum total on-time of a digit, in blocks.
uint16_t minTotalOn(int digit) {
  return static_cast<uint16_t>(2 * dtmfdCfgParams.minon[digit] + dtmfdCfgParams.extraon - 1);
}

void pteResetFilter(ptesrv::HAPI_PTE_FILTER* f) {
  f->filterControl = 0;
  f->filterDigit = 0xFFFF;
  f->filterLongDigit = 0xFFFF;
}

void resetTrigger(ptesrv::HAPI_PTE_FILTER* f) {
  if (f->filterControl & HAPI_PTE_FILTER_TYPE_TRIGGER) pteResetFilter(f);
}

void relay(uint16_t header, int digit, uint16_t power, unsigned samples) {
  hsfIbdSendStd(HSF_IBD_DIGIT_TONE, header, static_cast<uint16_t>(digit << 8 | power), static_cast<uint16_t>(samples));
}

// The digit that dial-string or relay playout is sounding now, or -1.
int playoutDigit(const PTEINSTANCEMEM* pte) {
  const PTE_RELAY& r = pte->ptedecstate.relay;
  return pte->genMode == PTE_GEN_PLAYOUT && !r.currentStateOff ? r.digit : -1;
}

void backToIdle(DETCTRL* det, uint16_t idle) {
  det->state = PTE_IDLE;
  det->on = det->off = det->abort = 0;
  det->idle = idle;
}

int stepPre(PTEINSTANCEMEM* pte, DETCTRL* det, PTE_DIR dir, uint16_t options, int16_t digit, uint16_t power,
            ptesrv::HAPI_PTE_FILTER* filter) {
  if (digit != det->digit) {
    det->abort += 1;
    if (det->abort < dtmfdCfgParams.minabort) return 1;
    if (dir == PTE_DIR_INGRESS) pte->stats.numEarlyFalses += 1;
    backToIdle(det, det->idle);
    return 0;
  }
  det->on += 1;
  if (det->on < dtmfdCfgParams.minon[digit]) return 1;
  det->state = PTE_ON;
  if (dir == PTE_DIR_INGRESS) pte->stats.numDetectedDigits += 1;
  if (options & HAPI_PTE_MODE_DIG_EVT) {
    if ((filter->filterDigit & bit(digit)) && !(dir == PTE_DIR_INGRESS && playoutDigit(pte) == digit)) {
      hsfObdSendStd(kCodes[dir].on, 0, static_cast<uint16_t>(digit));
      det->digitOBD |= bit(digit);
      resetTrigger(filter);
    } else {
      det->digitOBD &= static_cast<uint16_t>(~bit(digit));
    }
  }
  if (dir == PTE_DIR_INGRESS && (options & HAPI_PTE_MODE_DIG_RELAY)) {
    det->power = power;
    det->refreshCount = 0;
    det->digitIBD |= bit(digit);
    relay(PTE_RELAY_ON_MSG, digit, power, det->on * 40u);
  }
  return 1;
}

int stepOn(PTEINSTANCEMEM* pte, DETCTRL* det, PTE_DIR dir, uint16_t options, int16_t digit, uint16_t power,
           ptesrv::HAPI_PTE_FILTER* filter) {
  const int held = det->digit;
  det->on += 1;
  const bool events = (options & HAPI_PTE_MODE_DIG_EVT) && !(filter->filterControl & HAPI_PTE_FILTER_OFF_NOT_TO_HOST);
  const bool relaying = dir == PTE_DIR_INGRESS && (options & HAPI_PTE_MODE_DIG_RELAY);
  if (digit < 0) {
    det->abort = 0;
    det->off += 1;
    if (det->off < dtmfdCfgParams.minoff) return 1;
    det->state = det->on < minTotalOn(held) ? PTE_HOLD : PTE_POST;
    if (events && (det->digitOBD & bit(held))) hsfObdSendStd(kCodes[dir].off, 0, static_cast<uint16_t>(held));
    det->digitOBD &= static_cast<uint16_t>(~bit(held));
    return 1;
  }
  if (digit != held) {
    det->abort += 1;
    if (det->abort >= dtmfdCfgParams.minabort) {
      det->state = PTE_ABORT;
      if (events) hsfObdSendStd(kCodes[dir].abort, 0, 255);
      if (relaying && (det->digitIBD & bit(held))) {
        det->digitIBD = 0;
        const int on = det->on + 1 - det->off;
        relay(PTE_RELAY_OFF_MSG, held, det->power, static_cast<unsigned>(on > 8 ? on : 8) * 40u);
      }
      det->on = 0;
    }
    det->off = 0;
    return 1;
  }
  det->off = 0;
  det->abort = 0;
  const uint16_t longTime = filter->longDetectTime;
  if (det->state == PTE_ON && longTime != 0 && det->on * 5u >= longTime * 100u &&
      (filter->filterLongDigit & bit(held)) && pte->genMode == PTE_GEN_NONE) {
    det->state = PTE_ON_LONG;
    if (options & HAPI_PTE_MODE_DIG_EVT) hsfObdSendStd(kCodes[dir].on, 0, static_cast<uint16_t>(held + 16));
    resetTrigger(filter);
  }
  if (relaying && pte->regs.refreshInterval != 0) {
    det->refreshCount = static_cast<uint16_t>(det->refreshCount + 40);
    if (det->refreshCount >= pte->regs.refreshInterval) {
      det->power = power;
      det->refreshCount = 0;
      relay(PTE_RELAY_ON_MSG, held, power, det->on * 40u);
    }
  }
  return 1;
}

}  // namespace

void pteInitStm(DETCTRL* det) {
  *det = DETCTRL{};
  det->state = PTE_GUARD;
  det->digit = -1;
}

bool pteStmRestsOnNoDigit(const DETCTRL* det) {
  return det->state == PTE_IDLE && det->digit == -1 && det->on == 0 && det->idle == 0;
}

int pteStm(PTEINSTANCEMEM* pte, DETCTRL* det, PTE_DIR dir, uint16_t options, int16_t digit, uint16_t power,
           ptesrv::HAPI_PTE_FILTER* filter) {
  if (digit >= HAPI_PTE_DTMFDMAXDGT) digit = -1;  // never an index beyond the digit tables
  switch (det->state) {
    case PTE_GUARD:
      if (digit >= 0) {
        det->off = 0;
      } else if (++det->off >= dtmfdCfgParams.minoff) {
        backToIdle(det, 0);
      }
      return 0;
    case PTE_IDLE: {
      int result = 0;
      if (digit >= 0) {
        if (digit != det->digit) {
          det->on = 1;
          det->digit = digit;
        } else {
          det->on += 1;
        }
        if (det->on >= dtmfdCfgParams.minpre) {
          det->state = PTE_PRE;
          result = 1;
        }
      } else {
        det->digit = -1;
        det->on = 0;
      }
      if (det->idle != 0 && --det->idle == 0 && dir == PTE_DIR_INGRESS) {
        hsfIbdSendStd(HSF_IBD_DIGIT_TONE, PTE_RELAY_VOICE_MSG, 0, 0);
      }
      return result;
    }
    case PTE_PRE:
      return stepPre(pte, det, dir, options, digit, power, filter);
    case PTE_ON:
    case PTE_ON_LONG:
      return stepOn(pte, det, dir, options, digit, power, filter);
    case PTE_HOLD:
      det->on += 1;
      det->off += 1;
      if (det->on >= minTotalOn(det->digit)) det->state = PTE_POST;
      return 0;
    case PTE_POST:
      det->off += 1;
      if (dir == PTE_DIR_INGRESS && (options & HAPI_PTE_MODE_DIG_RELAY) && (det->digitIBD & bit(det->digit))) {
        det->digitIBD &= static_cast<uint16_t>(~bit(det->digit));
        const int on = det->on + 2 - det->off;
        relay(PTE_RELAY_OFF_MSG, det->digit, det->power, static_cast<unsigned>(on > 8 ? on : 8) * 40u);
      }
      if (digit >= 0) det->off = 0;
      if (det->off >= dtmfdCfgParams.minidle) backToIdle(det, dtmfdCfgParams.extraoff);
      return 0;
    case PTE_ABORT:
      if (digit >= 0) {
        det->off = 0;
      } else if (++det->off >= dtmfdCfgParams.minidle) {
        backToIdle(det, dtmfdCfgParams.extraoff);
      }
      return 0;
    default:
      lhapiAssertHandlerVerbose("ptestm.c", __LINE__);
      return 0;
  }
}
