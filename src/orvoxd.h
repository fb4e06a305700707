// The daemon's records and the calls between its parts: start-up and the main loop (main), the
// "endpt" object and outgoing ubus traffic (ubus), the look-ups of the PBX and the DECT manager
// (ubus_peers), UCI configuration (config), the line table and the library's callbacks (line),
// the connection table (connection) and the DECT line coordination (line-dect). Everything runs
// on the event-loop thread unless a function says otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include <libubus.h>

#include "endptlib.h"
#include "log_limit.h"
#include "loop_timer.h"
#include "tinyloop.h"

// ---------------------------------------------------------------------------------------------
// Requests that may be answered later
// ---------------------------------------------------------------------------------------------

// Accompanies every request of "endpt" that may be answered after its handler returned.
struct ubusReq_t {
  struct timespec timeStamp;          // CLOCK_MONOTONIC time of arrival
  struct ubus_request_data* reqIn;    // the incoming request; null once deferred
  struct ubus_context* ctx;           // the context that received it
  struct ubus_request_data reqOut;    // the deferred copy through which the late reply goes
};

enum line_action_t : int32_t {
  ACTION_CONN_CREATE = 0,
  ACTION_CONN_CLOSE = 1,
  ACTION_SIG_RING = 2,
};

// One request in progress between the PBX and the DECT manager.
struct lineReq_t {
  int line;
  int conId;  // the PBX's connection id, -1 when the request is not about one
  line_action_t action;
  char callId[120];
  ubusReq_t ubus;
  loopTimer_t deadline;  // bounds a handset's request that waits for the PBX; fd -1 otherwise
};

// ---------------------------------------------------------------------------------------------
// Lines
// ---------------------------------------------------------------------------------------------

struct ep_info_t {
  int32_t numEndpoints;
  int32_t numFxoEndpoints;
  int32_t numFxsEndpoints;
  int32_t numDectEndpoints;
};

struct uciConf_t {
  uint16_t echocancel;
  uint16_t silence;
  uint16_t comfortNoise;
  int32_t txgain;
  int32_t rxgain;
  char* name;
  uint16_t confLoadOK;
};

struct line_t {
  int physId;
  uciConf_t uciConf;
  EPZCAP epCap;
  ENDPT_STATE epHandle;
  // Read by the DSP tick thread's packet callback, written on the loop thread.
  std::atomic<uint16_t> simulatedHook;
  uint16_t simulatedBusy;
  uint32_t simulatedBusyPeerId;
  uint32_t defMinDisconnect;
  tl_list_t* pendKeyp;
  // Rows of the signal table the PBX has switched on and not yet off, so that they can be
  // switched off for it when it leaves the bus.
  uint64_t signalsOn;
  // A DECT line's ring the PBX asked the DECT manager for and has not stopped, nor the handset
  // answered or refused: released for the PBX when it leaves the bus.
  bool dectRingOn;
};

// The record behind an 'E' on the event pipe.
struct line_event_t {
  const char* name;  // a row of the event table; never copied or freed
  uint32_t data;
  uint32_t line;
};

// One frame on the audio pipes, host byte order.
struct audio_packet_t {
  int32_t line;
  int32_t cnx_id;
  uint32_t rtp_size;
  uint8_t rtp[];
};
static_assert(sizeof(audio_packet_t) == 12, "audio frame header is 12 bytes on the pipes");
constexpr int AUDIO_HEADER_SIZE = 12;
constexpr int AUDIO_MAX_RTP = static_cast<int>(TL_BUS_MAX_PAYLOAD) - AUDIO_HEADER_SIZE;

struct endpt_event {
  const char* name;
  EPEVT event;
  uint16_t enabled;
};
extern const endpt_event event_map[];

extern ep_info_t epInfo;
extern line_t* lines;

int lineEarlyInit(void);
int getLineCounts(ep_info_t* info);
int lineInit(void);
int lineClose(void);
int isLineOffhook(int line);
void lineEventHandler(ENDPT_STATE* epHandle, int cnxId, EPEVT event, void* data, int length,
                      int value);
void lineAudioRx(ENDPT_STATE* epHandle, int cnxId, EPPACKET* epPacket, int length);
void lineAudioTx(tl_packet_t* packet);
// Ring and caller-ID signals on FXS and FXO lines.
int lineRingAnalog(int line, EPSIG signal, const char* value);
int lineSignal(int line, const char* signame, const char* value, ubusReq_t* ubusReq);
// Switches off the signals of `which` (bits of rows of the signal table) the PBX left on on the
// line.
void lineSignalsStop(int line, uint64_t which);
const char* strerror_endp(int status);
// Reads a 16-bit field written by another thread until two consecutive reads agree.
uint16_t readStable(const std::atomic<uint16_t>* field);

// ---------------------------------------------------------------------------------------------
// Main loop and pipes
// ---------------------------------------------------------------------------------------------

extern int tinyBase;
// Pipe paths; the defaults are the system's fixed paths, ORVOX_PIPE_DIR moves them for tests.
const char* pipePath(const char* defaultPath);
int send_event_main(line_event_t* ev, char x);
int send_audio_asterisk(const uint8_t* buf, int size);

// ---------------------------------------------------------------------------------------------
// ubus: the "endpt" object, outgoing calls and request timers
// ---------------------------------------------------------------------------------------------

// How long the PBX and the DECT manager have to answer a call.
constexpr time_t ASTERISK_TIMEOUT_S = 5;
constexpr time_t CORDHUB_TIMEOUT_S = 15;

extern struct ubus_context* ctx;
extern uint32_t asterisk_id;
extern uint32_t cordhub_id;
// The paths of the PBX's object and the DECT manager's.
extern const char asterisk_path[];
extern const char cordhub_path[];

int ubus_init(void);
// The broker went away: orderly shutdown, then exit non-zero (main.cpp).
void ubus_connection_lost(struct ubus_context* ctx);
int ubus_close(void);
int ubus_enable_receive(void);
// Looks the PBX and the DECT manager up on the bus; one that cannot be looked up now is looked up
// again a second later, and so on until the bus answers.
void ubus_lookup_peers(void);
// Asks the bus which PBX is there now; what a PBX that left unseen held is closed. Not from inside
// the library's callbacks.
void ubus_lookup_pbx(void);
// Answers every request still waiting with status 10: done while "endpt" is still on the bus,
// since a broker drops replies for an object that is gone.
void ubus_answer_waiting(void);
// The peers' records (ubus_peers.cpp): made at start-up, released at shutdown.
int ubus_peers_init(void);
void ubus_peers_close(void);
// An event while no PBX is known: it waits (0) while the PBX is being looked up, else -1.
int ubus_pbx_event_waits(line_event_t* ev);
// An event that found no object at `at`, the id of the PBX known: it waits (0) for a fresh
// look-up and goes to the PBX the bus has then; -1 when it cannot wait.
int ubus_pbx_not_found(line_event_t* ev, uint32_t at);
// A call to the DECT manager found no object at its id: it is looked up again.
void ubus_dect_not_found(void);
int ubus_disable_receive(void);
int ubus_call_asterisk(line_event_t* ev);
int ubus_broadcast_event(const line_event_t* ev);
int ubus_call_cordhub(int terminal, int add, int release, const char* cid, lineReq_t* lineReq);
int send_reply_asterisk(ubusReq_t* ubusReq, int status);
int send_reply_cordhub(ubusReq_t* ubusReq, int terminal, int pcm, int status);
void ubus_defer(ubusReq_t* ubusReq);
// The status of a request as seen from one of its data messages: until the final status arrives
// the library holds "no data" there, which is no error.
int ubus_data_status(const struct ubus_request* req);
void ubus_event_new_obj(struct ubus_context* ctx, struct ubus_event_handler* ev,
                        const char* type, struct blob_attr* msg);

// ---------------------------------------------------------------------------------------------
// UCI configuration
// ---------------------------------------------------------------------------------------------

extern VRG_COUNTRY config_country;
int config_init(void);
int perhaps_erase_unuseds_lines(void);
int lineSetCountry(const char* text);

// ---------------------------------------------------------------------------------------------
// Connections
// ---------------------------------------------------------------------------------------------

int connectionInit(void);
int connectionClose(void);
int find_connection_from_asterisk_id(int line, int conId);
int connection_create(int line, int conId);
int connection_close(int line, int conId);
int connections_close(void);
// Whether any connection is open.
bool connectionsHeld(void);
// Whether any connection is open or any signal a PBX switched on is still on.
bool pbxLeftAnything(void);
// What the PBX holds now (connections, signals and DECT rings it left on), recorded when the bus
// cannot be asked about the PBX: once it answers, a PBX found to have left loses what it held then
// and still holds, not what the PBX there made meanwhile (its calls are served between look-ups).
// Null when memory fails: the record then stands for whatever is held at the time it is used.
struct pbxHeld_t;
pbxHeld_t* pbxHeldNow(void);
void pbxHeldFree(pbxHeld_t* held);
bool pbxHeldAny(const pbxHeld_t* held);
// Whether a connection of the record is still open on the line; whether a DECT ring of the record
// is still on there.
bool pbxHeldConnectionOn(const pbxHeld_t* held, int line);
bool pbxHeldRingOn(const pbxHeld_t* held, int line);
// The PBX left the bus: the connections of the record are closed and the signals it left on are
// stopped, so that a PBX that comes back starts on clean lines.
void connectionsPbxGone(const pbxHeld_t* held);
int connection_conference_start(int line, int conId);
int connection_conference_stop(int line, int conId);
// The line of a slot in use, -1 for a free or unknown slot.
int connection_line(int slot);

// ---------------------------------------------------------------------------------------------
// DECT lines
// ---------------------------------------------------------------------------------------------

int lineDectInit(void);
int lineDectClose(void);
// Asks the DECT manager to release the rings of the record a PBX that left had it start and the
// calls on DECT lines it still held connections on; before those connections are closed.
void lineDectReleaseForPbx(const pbxHeld_t* held);
int lineRingReqByPbx(int line, EPSIG signal, const char* value, ubusReq_t* ubusReq);
int lineNewConnectionByPbx(int line, int conId, ubusReq_t* ubusReq);
int lineCloseConnectionByPbx(int line, int conId, ubusReq_t* ubusReq);
int lineNewConnectionByDect(int line, const char* cid, ubusReq_t* ubusReq);
int lineCloseConnectionByDect(int line, ubusReq_t* ubusReq);
int cordhubAnswered(lineReq_t* lineReq, int status);
int pbxAnswered(const line_event_t* ev, int status);
int perhapsNotifyCordhub(void);
// Sends the next queued PBX-side request to the DECT manager, skipping those that fail.
void notifyCordhubWhilePending(void);
int perhapsSimulateHook(int line, EPEVT event);
int perhapsSimulateKeypad(int line, const char* digits);
int simulate_hook_event(ENDPT_STATE* epHandle, CAS_CTL_EVENT event);
int perhaps_simulate_busy(int line, ubusReq_t* ubusReq);
int endptToDectLine(int line);
int dectToEndptLine(int terminal);
int orvoxdMain(void);
