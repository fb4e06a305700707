// The connection table: the PBX's open media connections keyed by (line, connection id), one
// pool of three slots per line shared by all lines. A connection is G.711 A-law with 20 ms
// packets, with echo cancelling, silence suppression and comfort noise as the line's UCI
// settings and capabilities allow.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "orvoxd.h"

namespace {

struct connection_t {
  int line;   // index into the line table; -1 marks a free slot
  int conId;  // the PBX's connection id; -1 marks a free slot
  uint32_t serial;  // which opening of the slot this is, so that a record of it tells it apart
  EPZCNXPARAM epCnx;
};

connection_t* connection;
int numConnections;
uint32_t lastSerial;

bool slotInUse(const connection_t& slot) { return slot.line != -1 && slot.conId != -1; }

void freeSlot(connection_t& slot) {
  slot.line = -1;
  slot.conId = -1;
}

int lineIndexOf(int lineId) {
  for (int i = 0; i < epInfo.numEndpoints; i++)
    if (lines[i].epHandle.lineId == lineId) return i;
  return -1;
}

void fillCodecList(CODECCNXLIST& list) {
  list.numCodecs = 1;
  list.codecs[0].type = CODEC_PCMA;
  list.codecs[0].rtpPayloadType = 8;
  list.numPeriods = 1;
  list.period[0] = CODEC_PTIME_20;
}

void fillConnectionParams(EPZCNXPARAM& cnx, const line_t& l) {
  memset(&cnx, 0, sizeof(cnx));
  cnx.mode = EPCNXMODE_SNDRX;
  fillCodecList(cnx.cnxParmList.send);
  fillCodecList(cnx.cnxParmList.recv);
  cnx.namedPhoneEvts = l.epCap.nteCap;
  cnx.echocancel = (l.epCap.eCap && l.uciConf.echocancel) ? 1 : 0;
  cnx.silence = (l.epCap.sCap && l.uciConf.silence) ? 1 : 0;
  cnx.comfortNoise = l.uciConf.comfortNoise ? 1 : 0;
  cnx.preserveFaxMode = 0;
  cnx.secHdrSize = 0;
  // A fax calling tone moves the call to T.38 relay; its datagrams use the audio pipes.
  cnx.dataMode = EPDATAMODE_T38;
  cnx.autoEncoder = EPAUTOENC_OFF;
  cnx.vbdparam.vbdMode = EPVBDMODE_NONE;
  cnx.digitRelayType = EPDTMFRFC2833_DISABLED;
}

int setConferenceMode(int line, int conId, EPCNXMODE mode, const char* okText,
                      const char* errText) {
  int slot = find_connection_from_asterisk_id(line, conId);
  if (slot < 0) return -1;
  connection_t& c = connection[slot];
  c.epCnx.mode = mode;
  if (vrgEndptModifyConnection(&lines[c.line].epHandle, conId, &c.epCnx) != EPSTATUS_SUCCESS) {
    logRequest(errText, line, conId);
    return -1;
  }
  logRequest(okText, line, conId);
  return 0;
}

}  // namespace

int connectionInit(void) {
  numConnections = 3 * epInfo.numEndpoints;
  connection = new (std::nothrow) connection_t[numConnections > 0 ? numConnections : 1];
  if (!connection) err_exit("Error init connection mem\n");
  for (int i = 0; i < numConnections; i++) freeSlot(connection[i]);
  return 0;
}

int connectionClose(void) {
  if (!connection) return 0;
  connections_close();
  delete[] connection;
  connection = nullptr;
  numConnections = 0;
  return 0;
}

int find_connection_from_asterisk_id(int line, int conId) {
  for (int i = 0; i < numConnections; i++)
    if (slotInUse(connection[i]) && connection[i].line == line && connection[i].conId == conId)
      return i;
  return -1;
}

int connection_line(int slot) {
  if (slot < 0 || slot >= numConnections || !slotInUse(connection[slot])) return -1;
  return connection[slot].line;
}

int connection_create(int line, int conId) {
  if (numConnections == 0) {
    logRequest("Error; out of connetion memory %d %d", line, conId);
    return -1;
  }
  if (find_connection_from_asterisk_id(line, conId) >= 0) {
    logRequest("Error; duplicated connection %d %d", line, conId);
    return -1;
  }
  int slot = -1;
  for (int i = 0; i < numConnections && slot < 0; i++)
    if (!slotInUse(connection[i])) slot = i;
  if (slot < 0) {
    logRequest("Error; out of connetion memory %d %d", line, conId);
    return -1;
  }
  int index = lineIndexOf(line);
  if (index < 0) {
    logRequest("Error; can't find endpoint %d %d", line, conId);
    return -1;
  }

  connection_t& c = connection[slot];
  c.line = index;
  c.conId = conId;
  fillConnectionParams(c.epCnx, lines[index]);

  if (perhapsSimulateHook(line, EPEVT_OFFHOOK) != 0) {
    freeSlot(c);
    return -1;
  }
  EPSTATUS st = vrgEndptCreateConnection(&lines[index].epHandle, conId, &c.epCnx);
  if (st != EPSTATUS_SUCCESS) {
    logRequest("Error creating connection %d: %s", conId, strerror_endp(st));
    freeSlot(c);
    return -1;
  }
  if (c.epCnx.echocancel == 1) {
    VRG_ENDPT* state = GetEndptState(line);
    if (!state) {
      freeSlot(c);
      return -1;
    }
    if (hdspSendCmd(state->lineVhdHdl, HAPI_HEC_SETREG1_CMD, HAPI_REQID_STD_CMD, 0,
                    HAPI_HEC_NLP_OFF) != 0)
      logRequest("Error disabling quellix non-linear processing.");
  }
  c.serial = ++lastSerial ? lastSerial : ++lastSerial;  // 0 is no connection in a record
  logRequest("Created connection VRNK/%d/%d", line, conId);
  return 0;
}

int connection_close(int line, int conId) {
  VRG_ENDPT* state = GetEndptState(line);
  if (!state || state->cnxCnt == 0) return 0;
  int slot = find_connection_from_asterisk_id(line, conId);
  if (slot < 0) return -1;
  connection_t& c = connection[slot];
  int res = perhapsSimulateHook(line, EPEVT_ONHOOK);
  if (vrgEndptDeleteConnection(&lines[c.line].epHandle, conId) != EPSTATUS_SUCCESS) {
    logRequest("Error closeing connection %d", conId);
    logRequest("Error closeing connection VRNK/%d/%d", line, conId);
    res = -1;
  } else if (res == 0) {
    logRequest("Closed connection VRNK/%d/%d", line, conId);
  }
  freeSlot(c);
  return res;
}

int connections_close(void) {
  int res = 0;
  for (int i = 0; i < numConnections; i++) {
    connection_t& c = connection[i];
    if (!slotInUse(c) || lines[c.line].epHandle.lineId == -1) continue;
    if (connection_close(lines[c.line].epHandle.lineId, c.conId) != 0) res = -1;
  }
  return res;
}

bool connectionsHeld(void) {
  for (int i = 0; i < numConnections; i++)
    if (slotInUse(connection[i])) return true;
  return false;
}

bool pbxLeftAnything(void) {
  if (connectionsHeld()) return true;
  for (int line = 0; line < epInfo.numEndpoints; line++)
    if (lines[line].signalsOn || lines[line].dectRingOn) return true;
  return false;
}

struct pbxHeld_t {
  uint32_t* serials;  // per slot: the serial of the connection open then, 0 for none
  uint64_t* signals;  // per line: the signals on then
  bool* rings;        // per line: a DECT ring on then
};

pbxHeld_t* pbxHeldNow(void) {
  auto* held = static_cast<pbxHeld_t*>(calloc(1, sizeof(pbxHeld_t)));
  const int numLines = epInfo.numEndpoints > 0 ? epInfo.numEndpoints : 1;
  if (held) {
    held->serials = static_cast<uint32_t*>(calloc(numConnections > 0 ? numConnections : 1, sizeof(uint32_t)));
    held->signals = static_cast<uint64_t*>(calloc(numLines, sizeof(uint64_t)));
    held->rings = static_cast<bool*>(calloc(numLines, sizeof(bool)));
  }
  if (!held || !held->serials || !held->signals || !held->rings) {
    pbxHeldFree(held);
    return nullptr;
  }
  for (int i = 0; i < numConnections; i++)
    if (slotInUse(connection[i])) held->serials[i] = connection[i].serial;
  for (int line = 0; line < epInfo.numEndpoints; line++) {
    held->signals[line] = lines[line].signalsOn;
    held->rings[line] = lines[line].dectRingOn;
  }
  return held;
}

void pbxHeldFree(pbxHeld_t* held) {
  if (!held) return;
  free(held->serials);
  free(held->signals);
  free(held->rings);
  free(held);
}

namespace {

// Whether slot `i` holds a connection of the record (of any, with none).
bool heldSlot(const pbxHeld_t* held, int i) {
  if (!slotInUse(connection[i])) return false;
  return !held || held->serials[i] == connection[i].serial;
}

}  // namespace

bool pbxHeldAny(const pbxHeld_t* held) {
  if (!held) return pbxLeftAnything();
  for (int i = 0; i < numConnections; i++)
    if (held->serials[i]) return true;
  for (int line = 0; line < epInfo.numEndpoints; line++)
    if (held->signals[line] || held->rings[line]) return true;
  return false;
}

bool pbxHeldConnectionOn(const pbxHeld_t* held, int line) {
  for (int i = 0; i < numConnections; i++)
    if (heldSlot(held, i) && connection[i].line == line) return true;
  return false;
}

bool pbxHeldRingOn(const pbxHeld_t* held, int line) {
  return lines[line].dectRingOn && (!held || held->rings[line]);
}

void connectionsPbxGone(const pbxHeld_t* held) {
  logRequest("PBX left the bus: closing its connections");
  // Told while the connections still show which DECT lines are in a call.
  lineDectReleaseForPbx(held);
  for (int i = 0; i < numConnections; i++) {
    if (!heldSlot(held, i)) continue;
    connection_t& c = connection[i];
    if (lines[c.line].epHandle.lineId != -1) connection_close(lines[c.line].epHandle.lineId, c.conId);
    // A slot the library no longer counts (or whose line has no endpoint) would still hold the
    // PBX's id against the PBX that comes back.
    freeSlot(c);
  }
  for (int line = 0; line < epInfo.numEndpoints; line++)
    lineSignalsStop(line, held ? held->signals[line] : ~uint64_t{0});
}

int connection_conference_start(int line, int conId) {
  return setConferenceMode(line, conId, EPCNXMODE_CONF,
                           "Enabled conference for connection %d/%d",
                           "Error enabling conference for connection %d/%d");
}

int connection_conference_stop(int line, int conId) {
  return setConferenceMode(line, conId, EPCNXMODE_SNDRX,
                           "Disabled conference for connection %d/%d",
                           "Error disabling conference for connection %d/%d");
}
