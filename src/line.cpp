// The line table: one record per endpoint the board reports, its creation and provisioning
// through the endpoint library, the wake-up of analogue phones by polarity reversal, the two
// callbacks through which the library reaches the daemon (events on "VRGDISP", packets on the
// DSP tick thread), audio from the PBX and named signals.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <unistd.h>

#include "audio_rx.h"
#include "orvoxd.h"

ep_info_t epInfo;
line_t* lines;

const endpt_event event_map[] = {
    {"DTMF0", EPEVT_DTMF0, 1},
    {"DTMF1", EPEVT_DTMF1, 1},
    {"DTMF2", EPEVT_DTMF2, 1},
    {"DTMF3", EPEVT_DTMF3, 1},
    {"DTMF4", EPEVT_DTMF4, 1},
    {"DTMF5", EPEVT_DTMF5, 1},
    {"DTMF6", EPEVT_DTMF6, 1},
    {"DTMF7", EPEVT_DTMF7, 1},
    {"DTMF8", EPEVT_DTMF8, 1},
    {"DTMF9", EPEVT_DTMF9, 1},
    {"DTMFA", EPEVT_DTMFA, 1},
    {"DTMFB", EPEVT_DTMFB, 1},
    {"DTMFC", EPEVT_DTMFC, 1},
    {"DTMFD", EPEVT_DTMFD, 1},
    {"DTMFS", EPEVT_DTMFS, 1},
    {"DTMFH", EPEVT_DTMFH, 1},
    {"DTMFLONG", EPEVT_DTMFL, 0},
    {"OFFHOOK", EPEVT_OFFHOOK, 1},
    {"ONHOOK", EPEVT_ONHOOK, 1},
    {"EARLY_OFFHOOK", EPEVT_EARLY_OFFHOOK, 1},
    {"EARLY_ONHOOK", EPEVT_EARLY_ONHOOK, 1},
    {"FLASH", EPEVT_FLASH, 1},
    {"MEDIA", EPEVT_MEDIA, 0},
    {"", EPEVT_LAST, 0},
};

namespace {

// Lines that packets and events from outside can cause, each kind with its own limit.
logRateLimit_t packetRefusedLimit;
logRateLimit_t unknownEventLimit;

struct epsig {
  const char* name;
  EPSIG epsig;
};

const epsig epsig_map[] = {
    {"dial", EPSIG_DIAL},
    {"ringback", EPSIG_RINGBACK},
    {"stutter", EPSIG_STUTTER},
    {"callwt", EPSIG_CALLWT},
    {"busy", EPSIG_BUSY},
    {"ringing", EPSIG_RINGING},
    {"callid_ringing", EPSIG_CALLID_RINGING},
    {"callid", EPSIG_CALLID},
    {"congestion", EPSIG_NETBUSY},
    {"dial2", EPSIG_DIAL2},
    {"dtmf0", EPSIG_DTMF0},
    {"dtmf1", EPSIG_DTMF1},
    {"dtmf2", EPSIG_DTMF2},
    {"dtmf3", EPSIG_DTMF3},
    {"dtmf4", EPSIG_DTMF4},
    {"dtmf5", EPSIG_DTMF5},
    {"dtmf6", EPSIG_DTMF6},
    {"dtmf7", EPSIG_DTMF7},
    {"dtmf8", EPSIG_DTMF8},
    {"dtmf9", EPSIG_DTMF9},
    {"dtmf#", EPSIG_DTMFH},
    {"dtmf*", EPSIG_DTMFS},
    {"dtmfA", EPSIG_DTMFA},
    {"dtmfB", EPSIG_DTMFB},
    {"dtmfC", EPSIG_DTMFC},
    {"dtmfD", EPSIG_DTMFD},
    {"keypad", EPSIG_INGRESS_DTMF},
    {"", EPSIG_LAST},
};
static_assert(sizeof(epsig_map) / sizeof(epsig_map[0]) <= 64, "one bit of signalsOn per row");

const char* const endpt_status_text[] = {
    "success",
    "generic endpoint driver error",
    "endpoint is unknown",
    "endpoint is not ready",
    "endpoint has insufficient resources",
    "endpoint cant generate that signal",
    "incorrect connection ID",
    "unsupported connection mode",
    "unknown endpoint type",
    "endpoint is busy",
    "endpoint is onhook, can't perform operation",
    "endpoint is in wrong mode, can't perform operation",
    "unable to shutdown the endpoint",
    "endpoint provisioning failure",
    "endp reset is pending",
};

constexpr int MAX_KEYPAD_DIGITS = 100;
constexpr int IGNORE_HOOK_FOREVER = 65535;

void printCapabilities(const EPZCAP& cap) {
  printf("  pCap 0x%x 0x%x\n", cap.pCap[0], cap.pCap[1]);
  printf("  codecs");
  for (int c = 0; c < CODEC_MAX_TYPES; c++) printf(" %u", cap.codecCap[c]);
  printf("\n");
  printf("  echo cancel %u\n", cap.eCap);
  printf("  silence suppression %u\n", cap.sCap);
  printf("  type ");
  switch (cap.endptType) {
    case EPTYPE_FXS: printf("FXS (phone)"); break;
    case EPTYPE_PSTN: printf("PSTN (operator network)"); break;
    case EPTYPE_DECT: printf("DECT"); break;
    default: break;
  }
  printf("\n");
}

// Two polarity reversals wake an on-hook analogue phone at start-up. Returns true when the line
// needs no wake-up (off-hook) or both cycles were done.
bool lineStrobeWakeup(int line) {
  line_t& l = lines[line];
  if (l.epHandle.endptType != EPTYPE_FXS) return false;
  VRG_ENDPT* state = GetEndptState(l.epHandle.lineId);
  if (!state) return false;
  if (isLineOffhook(line)) return true;
  for (int cycle = 0; cycle < 2; cycle++) {
    usleep(400 * 1000);
    EPSTATUS st = vrgEndptSignal(&l.epHandle, -1, EPSIG_REV, 1, -1, -1, -1);
    if (st != EPSTATUS_SUCCESS) {
      printf("Error reversing line polarity: %s\n", strerror_endp(st));
      return false;
    }
    usleep(220 * 1000);
    st = vrgEndptSignal(&l.epHandle, -1, EPSIG_REV, 0, -1, -1, -1);
    if (st != EPSTATUS_SUCCESS) {
      printf("Error restoring line polarity: %s\n", strerror_endp(st));
      return false;
    }
  }
  return true;
}

void createLineEndpoint(int i, bool dectBusy) {
  line_t& l = lines[i];
  l.pendKeyp = tl_list_new();

  EPSTATUS st = vrgEndptProvSet(i, EPPROV_TxGain, &l.uciConf.txgain, 4);
  if (st != EPSTATUS_SUCCESS) err_exit("Error txgain %d: %s\n", i, strerror_endp(st));
  st = vrgEndptProvSet(i, EPPROV_RxGain, &l.uciConf.rxgain, 4);
  if (st != EPSTATUS_SUCCESS) err_exit("Error rxgain %d: %s\n", i, strerror_endp(st));

  if (!l.uciConf.name) l.uciConf.name = strdup("anonymous");

  st = vrgEndptCreate(i, i, &l.epHandle);
  if (st != EPSTATUS_SUCCESS || l.epHandle.lineId != i)
    err_exit("Error creating endpoint %d: %s\n", i, strerror_endp(st));
  printf("Endpoint %d (%s) created successfully\n", i, l.uciConf.name);
  l.physId = i;

  if (vrgEndptCapabilities(&l.epHandle, &l.epCap) == EPSTATUS_SUCCESS) printCapabilities(l.epCap);

  printf("  line wakeup %s", lineStrobeWakeup(i) ? "yes\n" : "no\n");

  if (l.epCap.endptType == EPTYPE_DECT) {
    l.simulatedBusy = dectBusy ? 1 : 0;
    printf("  simulate busy %s\n", l.simulatedBusy ? "yes\n" : "no\n");
  }

  st = vrgEndptProvGet(i, EPPROV_MinDisconnect, &l.defMinDisconnect, 4);
  if (st != EPSTATUS_SUCCESS) {
    printf("Error getting force onhook time %d: %s\n", i, strerror_endp(st));
    l.defMinDisconnect = 65535;
  }
}

void freeKeypadList(tl_list_t* list) {
  if (!list) return;
  while (void* digits = tl_list_get(list)) free(digits);
  tl_list_free(list);
}

// Keypad strings on a line: digits as in-band DTMF, 'R' as a hook flash.
int playKeypad(int line, const char* value) {
  if (!value) return EPSTATUS_SIGNAL_UNKNOWN;
  int status = EPSTATUS_SUCCESS;
  for (int n = 0; n < MAX_KEYPAD_DIGITS && value[n] && status == EPSTATUS_SUCCESS; n++) {
    unsigned char c = static_cast<unsigned char>(value[n]);
    int code = -1;
    if (c >= '0' && c <= '9') code = c - '0';
    else if (c == '*') code = 10;
    else if (c == '#') code = 11;
    else if (c >= 'a' && c <= 'd') code = 12 + (c - 'a');
    else if (c >= 'A' && c <= 'D') code = 12 + (c - 'A');

    if (code >= 0) {
      EPCMD_PARMS parms{};
      parms.arg[0] = static_cast<uint32_t>(code);
      status = vrgEndptConsoleCmd(&lines[line].epHandle, EPCMD_INDTMF_GENERATE, &parms);
    } else if (c == 'R' && perhapsSimulateHook(line, EPEVT_FLASH) == 0) {
      // a hook flash plays nothing
    } else {
      const char text[2] = {static_cast<char>(c), 0};
      logRequest("Warning, invalid keypad char %d %s", c, logText(text).text);
      status = EPSTATUS_SIGNAL_UNKNOWN;
    }
  }
  return status;
}

}  // namespace

int lineRingAnalog(int line, EPSIG signal, const char* value) {
  logRequest("%s() %d", "lineRingReqByPbx", line);
  uintptr_t sigValue = 0;
  if (value) {
    bool on = strcmp(value, "0") != 0;
    if (signal == EPSIG_CALLID) sigValue = reinterpret_cast<uintptr_t>(value);
    else sigValue = on ? 1 : 0;
  }
  return vrgEndptSignal(&lines[line].epHandle, -1, signal, sigValue, -1, -1, -1);
}

const char* strerror_endp(int status) {
  if (status < 0 || status >= static_cast<int>(sizeof(endpt_status_text) / sizeof(char*)))
    return "";
  return endpt_status_text[status];
}

uint16_t readStable(const std::atomic<uint16_t>* field) {
  uint16_t a = field->load(std::memory_order_relaxed);
  for (;;) {
    uint16_t b = field->load(std::memory_order_relaxed);
    if (a == b) return a;
    a = b;
  }
}

int lineEarlyInit(void) {
  int count = vrgEndptGetNumEndpoints();
  if (count < 1) return -1;
  lines = new (std::nothrow) line_t[count]();
  if (!lines) return -1;
  for (int i = 0; i < count; i++) {
    lines[i].physId = -1;
    lines[i].epHandle.lineId = -1;
  }
  epInfo.numEndpoints = count;
  return 0;
}

int getLineCounts(ep_info_t* info) {
  info->numEndpoints = vrgEndptGetNumEndpoints();
  info->numFxoEndpoints = vrgEndptGetNumFxoEndpoints();
  info->numFxsEndpoints = vrgEndptGetNumFxsEndpoints();
  info->numDectEndpoints = vrgEndptGetNumDectEndpoints();
  return 0;
}

int lineInit(void) {
  if (vosInit() != 0) err_exit("Error init Varnak VOS\n");
  tpUpdateLocaleProfile(config_country);
  if (!tpLocaleProfileLoaded(config_country)) {
    err_exit("Error! No valid telephony profile for country %d in %s: see the PROV lines above\n",
             static_cast<int>(config_country), tpProfileDirectory());
  }

  const char* hasDect = getenv("hw_board_hasDect");
  bool dectBusy = !hasDect || hasDect[0] != '1';

  ENDPT_INIT_CFG cfg{};
  cfg.country = config_country;
  EPSTATUS st = vrgEndptInit(&cfg, lineEventHandler, lineAudioRx, nullptr, nullptr, nullptr,
                             nullptr);
  if (st != EPSTATUS_SUCCESS) err_exit("Error init endpoint lib: %s\n", strerror_endp(st));
  printf("Endpoint lib init success\n");

  for (int i = 0; i < epInfo.numEndpoints; i++) createLineEndpoint(i, dectBusy);
  return lineDectInit() == 0 ? 0 : -1;
}

int lineClose(void) {
  lineDectClose();
  if (!lines) return 0;
  for (int i = 0; i < epInfo.numEndpoints; i++) {
    line_t& l = lines[i];
    freeKeypadList(l.pendKeyp);
    l.pendKeyp = nullptr;
    if (l.epHandle.lineId == -1) continue;
    VRG_ENDPT* state = GetEndptState(l.epHandle.lineId);
    if (!state || !state->isLineUsed || state->lineId != l.epHandle.lineId ||
        state->endptNum != i)
      continue;
    perhapsSimulateHook(i, EPEVT_ONHOOK);
    EPSTATUS st = vrgEndptDestroy(&l.epHandle);
    if (st != EPSTATUS_SUCCESS) {
      printf("Line destroying endpoint %d: %s\n", i, strerror_endp(st));
    } else {
      printf("Line %d (%s) destroyed successfully\n", i, l.uciConf.name ? l.uciConf.name : "");
      l.physId = -1;
      l.epHandle.lineId = -1;
    }
    free(l.uciConf.name);
    l.uciConf.name = nullptr;
  }
  EPSTATUS st = vrgEndptDeinit();
  if (st != EPSTATUS_SUCCESS) printf("Error freeing endpoint lib: %s\n", strerror_endp(st));
  else printf("Endpoint lib freed successfully\n");
  if (boardHalDeinit() != 0) printf("Error boardHalDeinit\n");
  if (vosIsInit() && vosTerm() != 0) printf("Error vosTerm\n");
  for (int i = 0; i < epInfo.numEndpoints; i++) free(lines[i].uciConf.name);
  delete[] lines;
  lines = nullptr;
  return 0;
}

int isLineOffhook(int line) {
  if (!lines || line < 0 || line >= epInfo.numEndpoints) return 0;
  VRG_ENDPT* state = GetEndptState(lines[line].epHandle.lineId);
  if (!state) return 0;
  return readStable(&state->earlyOffHook) || readStable(&state->offHook) ? 1 : 0;
}

void lineEventHandler(ENDPT_STATE* epHandle, int, EPEVT event, void*, int, int value) {
  const endpt_event* row = event_map;
  while (row->name[0] && row->event != event) row++;
  if (!row->name[0]) {
    logLimited(&unknownEventLimit, "Unknown event from endpoint: %d", event);
    return;
  }
  if (!row->enabled) {
    logLineEvent("Ignoring event from endpoint: %s", row->name);
    return;
  }
  logLineEvent("event from endpoint: %s, line: %d", row->name, epHandle->lineId);
  auto* ev = static_cast<line_event_t*>(malloc(sizeof(line_event_t)));
  if (!ev) return;
  ev->name = row->name;
  ev->data = value < 0 ? 0 : static_cast<uint32_t>(value);
  ev->line = static_cast<uint32_t>(epHandle->lineId);
  if (send_event_main(ev, 'E') != 0) free(ev);
}

void lineAudioRx(ENDPT_STATE* epHandle, int cnxId, EPPACKET* epPacket, int length) {
  // Runs on the DSP tick thread: a frame on the stack, no allocation.
  if (length < 0 || length > AUDIO_MAX_RTP || !epPacket || !epPacket->packetp) return;
  alignas(audio_packet_t) uint8_t frame[TL_BUS_MAX_PAYLOAD];
  auto* hdr = reinterpret_cast<audio_packet_t*>(frame);
  hdr->line = epHandle->lineId;
  hdr->cnx_id = cnxId;
  hdr->rtp_size = static_cast<uint32_t>(length);
  memcpy(frame + AUDIO_HEADER_SIZE, epPacket->packetp, static_cast<size_t>(length));
  send_audio_asterisk(frame, AUDIO_HEADER_SIZE + length);

  int line = epHandle->lineId;
  if (lines && line >= 0 && line < epInfo.numEndpoints && lines[line].simulatedHook.load(std::memory_order_relaxed)) {
    VRG_ENDPT* state = GetEndptState(line);
    if (!state || casCtlIgnoreHookState(state->casCtlHandle, IGNORE_HOOK_FOREVER) != 0)
      printf("Can't ignore hook for line %d\n", line);
  }
}

namespace {

// NET mode of a channel that has switched to its fax stack.
constexpr uint16_t NETMODE_FAXRELAY = 4;

// Whether the library's channel for the connection has switched to fax relay. Its fax stack has
// no RTP: every frame the PBX sends for the connection then is a T.38 (UDPTL) datagram, whatever
// its first byte. The library writes the mode on its dispatcher thread.
bool connectionInFaxRelay(int line, int cnxId) {
  VRG_ENDPT* state = GetEndptState(line);
  if (!state) return false;
  for (CNXSTATE* cnx : state->cnx) {
    if (cnx && cnx->cnxId == cnxId)
      return std::atomic_ref<uint16_t>(cnx->vhdMode).load(std::memory_order_relaxed) == NETMODE_FAXRELAY;
  }
  return false;
}

}  // namespace

void lineAudioTx(tl_packet_t* packet) {
  if (!packet || packet->size < AUDIO_HEADER_SIZE || packet->size > TL_BUS_MAX_PAYLOAD) {
    badAudioPacket("short frame");
    return;
  }
  audio_packet_t hdr;
  memcpy(&hdr, packet->data, AUDIO_HEADER_SIZE);
  const uint8_t* rtp = packet->data + AUDIO_HEADER_SIZE;
  int slot = find_connection_from_asterisk_id(hdr.line, hdr.cnx_id);
  int line = connection_line(slot);
  const bool t38 = line >= 0 && hdr.rtp_size != 0 && connectionInFaxRelay(lines[line].epHandle.lineId, hdr.cnx_id);
  if (slot < 0 || hdr.rtp_size == 0 || hdr.rtp_size > packet->size - AUDIO_HEADER_SIZE ||
      (rtp[0] != 0x80 && !t38) || line < 0 || lines[line].epHandle.lineId == -1) {
    badAudioPacket("no such connection, not RTP or wrong size");
    return;
  }
  EPPACKET epPacket{};
  epPacket.mediaType = t38 ? EPMEDIATYPE_T38 : EPMEDIATYPE_RTP;
  epPacket.packetp = const_cast<uint8_t*>(rtp);
  EPSTATUS st = vrgEndptPacket(&lines[line].epHandle, hdr.cnx_id, &epPacket,
                               static_cast<int>(hdr.rtp_size), 0);
  if (st != EPSTATUS_SUCCESS) logLimited(&packetRefusedLimit, "Error vrgEndptPacket: %s", strerror_endp(st));
}

namespace {

// A signal's value as a number: leading digits as before (none reads as 0), but a number that
// does not fit in 32 bits is refused instead of being cut to some other value.
bool signalNumber(const char* value, int* out) {
  if (!value) {
    *out = 0;
    return true;
  }
  errno = 0;
  const long long number = strtoll(value, nullptr, 10);
  if (errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
  *out = static_cast<int>(number);
  return true;
}

// Keypad digits are played once and over; ring signals of a DECT line belong to the DECT
// manager's request queue: neither is left on.
void rememberSignal(int line, const epsig& row, const char* value) {
  const bool dectRing = lines[line].epHandle.endptType == EPTYPE_DECT &&
                        (row.epsig == EPSIG_RINGING || row.epsig == EPSIG_CALLID_RINGING ||
                         row.epsig == EPSIG_CALLID);
  if (row.epsig == EPSIG_INGRESS_DTMF || dectRing) return;
  const uint64_t bit = uint64_t{1} << (&row - epsig_map);
  if (value && strcmp(value, "0") != 0) lines[line].signalsOn |= bit;
  else lines[line].signalsOn &= ~bit;
}

}  // namespace

void lineSignalsStop(int line, uint64_t which) {
  for (const epsig* row = epsig_map; row->name[0]; row++) {
    const uint64_t bit = uint64_t{1} << (row - epsig_map);
    if (!(lines[line].signalsOn & which & bit)) continue;
    lines[line].signalsOn &= ~bit;
    lineSignal(line, row->name, "0", nullptr);
  }
}

int lineSignal(int line, const char* signame, const char* value, ubusReq_t* ubusReq) {
  const epsig* row = epsig_map;
  while (row->name[0] && strcmp(row->name, signame) != 0) row++;
  logRequest("%s() %d", "lineSignal", line);
  if (!row->name[0]) {
    logRequest("Error! No such signal: %s", logText(signame).text);
    return -1;
  }
  int status;
  if (lines[line].simulatedBusy) {
    // The line shows busy to each requester; with no requester (keypad digits queued from the
    // DECT side) there is no call to play into.
    if (ubusReq) return perhaps_simulate_busy(line, ubusReq);
    status = EPSTATUS_SIGNAL_UNKNOWN;
  } else switch (row->epsig) {
    case EPSIG_RINGING:
    case EPSIG_CALLID_RINGING:
    case EPSIG_CALLID:
      status = lineRingReqByPbx(line, row->epsig, value, ubusReq);
      break;
    case EPSIG_INGRESS_DTMF:
      status = playKeypad(line, value);
      break;
    default: {
      int number = 0;
      if (!signalNumber(value, &number)) {
        logRequest("Error! Invalid signal value: %s", logText(value).text);
        return -1;
      }
      status = vrgEndptSignal(&lines[line].epHandle, -1, row->epsig,
                              static_cast<unsigned>(number), -1, -1, -1);
      break;
    }
  }
  if (status == 0) {
    rememberSignal(line, *row, value);
    logRequest("Signal %s=%s was set for line %d ", signame, logText(value).text, line);
    return 0;
  }
  logRequest("Error setting signal %s, status = %d", signame, status);
  return -1;
}
