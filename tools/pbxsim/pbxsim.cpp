// pbxsim: the PBX's side of the daemon. Registers the ubus object "asterisk" with method "event"
// and prints every event; reads the daemon's audio frames from "endpt_audio_tx" and can loop
// them back on "endpt_audio_rx" or record their payload; runs a short script of "endpt" calls.
//
//   pbxsim [-s socket] [--pipe-dir dir] [--no-answer] [--loop] [--record file.raw]
//          [--pcap file.pcap] [--wav file.wav] [--send speech.wav] [--packets]
//          [--script "signal 0 ringing on; sleep 500; connection 0 1 create; ..."]
//          [--step-board board.sock] [--stamp] [--stranger n] [--pause n:m] [--new-source]
//
// Each audio stream (line and connection) is announced by its first frame ("audio line=1 cnx=1
// size=172") and summed up on exit; --packets prints every frame instead.
// --record keeps the payloads of the received voice packets back to back (no RTP header, no
// RTCP, no telephone event): for G.711 a raw A-law or u-law file.
// --pcap keeps the RTP of both directions as a capture file, --wav the decoded G.711 far-end audio;
// --send answers each packet of the first connection heard with 20 ms of the speech file (over
// and over, "speech sent" printed after the first time) as G.711 A-law RTP, so the speech keeps the pace of the daemon's own packets whatever its tick.
// --step-board makes pbxsim the clock of a virtual board whose tick runs fast (ORVOX_TICK=fast):
// it grants the board one tick at a time, and before the next one makes sure that the daemon has
// taken in every packet it was sent in answer to the packets of that tick (see pbxsim_step.h).
// --stamp starts each event line with the host's real-time clock in microseconds as the event is
// taken in, so that a soak can time the path from a hook change to here without its own reader.
// --stranger n sends, beside each looped voice packet, n well-formed packets of another source
// (its own SSRC, sequence and time stamps) carrying silence: a stream mixed into the call.
// --pause n:m holds back the looped voice packets n to n+m-1 of each stream (counted from 0): a
// pause of the far end's stream, its sequence resuming past the gap; a stranger then starts with
// the pause. --new-source makes the stream resume under another SSRC and numbering after the
// pause, as a far end that restarted its stream.
// RFC 4733 telephone events are decoded: "rtp event <code> ..." when an event's first end packet
// comes in. On exit it prints the received and sent packet counts, losses, the received level and
// every relayed event with its end packets counted.
//
// The audio frame is {line int32, connection id int32, packet size uint32} in host byte order
// followed by the packet, as one bus message (32-bit size word, at most 4092 payload bytes).

#include <cerrno>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include "pbxsim_media.h"
#include "pbxsim_step.h"
#include "simcommon.h"
#include "tinyloop.h"

namespace {

struct Options {
  const char* socket = nullptr;
  std::string pipeDir = "/tmp";
  bool noAnswer = false;
  bool loop = false;
  bool everyPacket = false;
  bool stamp = false;
  std::string recordPath;
  std::string script;
  std::string pcapPath;
  std::string wavPath;
  std::string sendPath;
  std::string stepBoard;
  int stranger = 0;
  long pauseFrom = -1, pauseLength = 0;  // looped voice packets held back; -1: none
  bool newSource = false;
};

Options opt;
struct ubus_context* ctx;
tl_bus_t* txBus;  // frames from the daemon
tl_bus_t* rxBus;  // frames to the daemon
std::vector<struct ubus_request_data> heldRequests;
pbxmedia::Receiver receiver;
pbxmedia::Sender sender;
bool sending = false;
bool sendBound = false;  // the connection the speech goes to is known
int32_t sendLine = -1, sendCnx = -1;
uint64_t framesToDaemon = 0;  // frames written to the receive pipe

// 20 ms of the speech file to the connection that has been heard first.
void sendSpeech(int32_t line, int32_t cnx) {
  if (!sending) return;
  if (!sendBound) {
    sendBound = true;
    sendLine = line;
    sendCnx = cnx;
  }
  if (line != sendLine || cnx != sendCnx) return;
  const bool before = sender.done();
  const std::vector<uint8_t> rtp = sender.next();
  if (rtp.empty()) return;
  uint8_t frame[12 + 4096];
  const uint32_t size = static_cast<uint32_t>(rtp.size());
  memcpy(frame, &line, 4);
  memcpy(frame + 4, &cnx, 4);
  memcpy(frame + 8, &size, 4);
  memcpy(frame + 12, rtp.data(), rtp.size());
  tl_bus_send(rxBus, frame, 12 + rtp.size());
  receiver.captureSent(rtp);
  ++framesToDaemon;
  if (!before && sender.done()) {
    printf("speech sent: %llu packets\n", static_cast<unsigned long long>(sender.packets()));
    fflush(stdout);
  }
}

enum { EV_EVENT, EV_DATA, EV_LINE, __EV_MAX };
const struct blobmsg_policy event_policy[] = {
    {"event", BLOBMSG_TYPE_STRING},
    {"data", BLOBMSG_TYPE_INT32},
    {"line", BLOBMSG_TYPE_INT32},
};

int onEvent(struct ubus_context* c, struct ubus_object*, struct ubus_request_data* req,
            const char*, struct blob_attr* msg) {
  struct blob_attr* tb[__EV_MAX];
  blobmsg_parse(event_policy, __EV_MAX, tb, blob_data(msg), blob_len(msg));
  if (opt.stamp) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    printf("%lld ", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
  }
  printf("event %s data=%d line=%d\n", tb[EV_EVENT] ? blobmsg_get_string(tb[EV_EVENT]) : "?",
         tb[EV_DATA] ? static_cast<int>(blobmsg_get_u32(tb[EV_DATA])) : -1,
         tb[EV_LINE] ? static_cast<int>(blobmsg_get_u32(tb[EV_LINE])) : -1);
  fflush(stdout);
  if (opt.noAnswer) {
    // Held for ever: the daemon's own time-out has to complete the call.
    heldRequests.emplace_back();
    ubus_defer_request(c, req, &heldRequests.back());
  }
  return UBUS_STATUS_OK;
}

const struct ubus_method asterisk_methods[] = {
    UBUS_METHOD("event", onEvent, event_policy),
};
struct ubus_object_type asterisk_type = UBUS_OBJECT_TYPE("asterisk", asterisk_methods);
struct ubus_object asteriskObj = {};

// The frames of one line and connection, for the summary on exit.
struct AudioStream {
  int32_t line, cnx;
  uint64_t frames = 0, media = 0, bytes = 0;
  uint16_t strangerSeq = 0;
  uint32_t strangerTime = 0;
  uint32_t strangerSsrc = 0;  // 0 until its first packet
  uint64_t loopedVoice = 0;  // voice packets of the stream seen in loop mode
};
std::vector<AudioStream> streams;

AudioStream& audioStream(int32_t line, int32_t cnx) {
  for (AudioStream& s : streams) {
    if (s.line == line && s.cnx == cnx) return s;
  }
  return streams.emplace_back(AudioStream{line, cnx});
}

// n silent G.711 packets of a source that is not the call's, each sent beside `voice`.
void sendStranger(AudioStream& stream, const uint8_t* frameHead, std::span<const uint8_t> voice) {
  pbxmedia::RtpHeader h;
  if (!pbxmedia::rtpParse(voice, &h) || (h.payloadType != 0 && h.payloadType != 8)) return;
  const size_t payload = voice.size() - h.headerBytes - h.paddingBytes;
  uint8_t frame[12 + 4096];
  memcpy(frame, frameHead, 12);
  const uint32_t size = static_cast<uint32_t>(12 + payload);
  memcpy(frame + 8, &size, 4);
  uint8_t* rtp = frame + 12;
  // Its own source for the whole call, whatever the call's stream does meanwhile.
  if (stream.strangerSsrc == 0) stream.strangerSsrc = h.ssrc ^ 0x5A5A5A5Au;
  const uint32_t ssrc = stream.strangerSsrc;
  for (int k = 0; k < opt.stranger; ++k) {
    rtp[0] = 0x80;
    rtp[1] = h.payloadType;
    rtp[2] = static_cast<uint8_t>(stream.strangerSeq >> 8);
    rtp[3] = static_cast<uint8_t>(stream.strangerSeq);
    for (int i = 0; i < 4; ++i) {
      rtp[4 + i] = static_cast<uint8_t>(stream.strangerTime >> (24 - 8 * i));
      rtp[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    }
    memset(rtp + 12, h.payloadType == 0 ? 0xFF : 0xD5, payload);
    ++stream.strangerSeq;
    stream.strangerTime += static_cast<uint32_t>(payload);
    tl_bus_send(rxBus, frame, 12 + size);
    receiver.captureSent({rtp, size});
    ++framesToDaemon;
  }
}

// Where a voice packet of a looped stream stands against --pause: before, inside or after it.
enum class PausePhase { BEFORE, PAUSED, AFTER };
PausePhase pausePhase(uint64_t index) {
  if (opt.pauseFrom < 0 || index < static_cast<uint64_t>(opt.pauseFrom)) return PausePhase::BEFORE;
  return index < static_cast<uint64_t>(opt.pauseFrom + opt.pauseLength) ? PausePhase::PAUSED : PausePhase::AFTER;
}

// A far end that restarted: the voice packet under another SSRC and numbering.
void restartedSource(uint8_t* rtp, size_t size) {
  if (size < 12) return;
  const uint16_t seq = static_cast<uint16_t>(((rtp[2] << 8) | rtp[3]) + 1000);
  rtp[2] = static_cast<uint8_t>(seq >> 8);
  rtp[3] = static_cast<uint8_t>(seq);
  for (int i = 8; i < 12; ++i) rtp[i] ^= 0x0F;
}

// Sends the daemon's frame back to it, as --pause, --new-source and --stranger shape the stream.
void loopBack(AudioStream& stream, tl_packet_t* packet, bool voice) {
  const PausePhase phase = voice ? pausePhase(stream.loopedVoice++) : PausePhase::BEFORE;
  uint8_t* rtp = packet->data + 12;
  const size_t size = packet->size - 12;
  if (phase != PausePhase::PAUSED) {
    if (phase == PausePhase::AFTER && opt.newSource) restartedSource(rtp, size);
    tl_bus_send(rxBus, packet->data, packet->size);
    receiver.captureSent({rtp, size});
    ++framesToDaemon;
  }
  // With a pause the stranger starts in it; without one it is there from the start.
  if (opt.stranger > 0 && (opt.pauseFrom < 0 || phase != PausePhase::BEFORE))
    sendStranger(stream, packet->data, {rtp, size});
}

void onAudioFrame(tl_packet_t* packet) {
  if (packet->size < 12) return;
  int32_t line, cnx;
  uint32_t size;
  memcpy(&line, packet->data, 4);
  memcpy(&cnx, packet->data + 4, 4);
  memcpy(&size, packet->data + 8, 4);
  AudioStream& stream = audioStream(line, cnx);
  if (opt.everyPacket || stream.frames == 0) {
    printf("audio line=%d cnx=%d size=%u\n", line, cnx, size);
    fflush(stdout);
  }
  ++stream.frames;
  if (size > packet->size - 12) return;
  stream.bytes += size;
  const bool media = receiver.onPacket({packet->data + 12, size});
  if (media) ++stream.media;
  if (receiver.eventJustEnded()) printf("%s\n", pbxmedia::describeRelayedEvent(receiver.relayedEvents().back()).c_str());
  if (opt.loop) loopBack(stream, packet, media);
  if (media) sendSpeech(line, cnx);
}

int openPipe(const std::string& name) {
  std::string path = opt.pipeDir + "/" + name;
  if (mkfifo(path.c_str(), 0666) != 0 && errno != EEXIST) return -1;
  return open(path.c_str(), O_RDWR | O_NONBLOCK);
}

// One read of the transmit pipe, its frames dispatched; false when there was nothing to read.
bool readTxPipe(int fd) {
  uint8_t buf[4096];
  ssize_t n = read(fd, buf, sizeof(buf));
  if (n <= 0) return false;
  tl_event_t ev{buf, static_cast<int>(n)};
  if (tl_bus_receive(txBus, &ev) < 0) {
    fprintf(stderr, "pbxsim: audio bus overrun\n");
    return true;
  }
  tl_bus_dispatch(txBus);
  return true;
}

void printReply(struct ubus_request*, int, struct blob_attr* msg) {
  char* json = blobmsg_format_json(msg, true);
  printf("reply %s\n", json ? json : "{}");
  free(json);
}

// One scripted call of an "endpt" method, printed with its status.
void invokeEndpt(const std::string& method, struct blob_buf* args) {
  uint32_t id;
  if (ubus_lookup_id(ctx, "endpt", &id) != 0) {
    printf("endpt not found\n");
    return;
  }
  int status = ubus_invoke(ctx, id, method.c_str(), args->head, printReply, nullptr, 20000);
  printf("%s status %d\n", method.c_str(), status);
  fflush(stdout);
}

constexpr long MAX_SLEEP_MS = 600000;

// The milliseconds of a "sleep" step: a whole number from 1 to MAX_SLEEP_MS, else -1.
long sleepMs(const std::string& word) {
  char* end = nullptr;
  errno = 0;
  const long ms = strtol(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || errno != 0 || ms < 1 || ms > MAX_SLEEP_MS) return -1;
  return ms;
}

// Checks every step before anything runs: a script that cannot run as written is refused.
bool scriptValid(const std::string& script) {
  std::stringstream steps(script);
  std::string step;
  while (std::getline(steps, step, ';')) {
    std::stringstream ss(step);
    std::string verb, word;
    ss >> verb;
    if (verb == "sleep" && (!(ss >> word) || sleepMs(word) < 0)) {
      fprintf(stderr, "pbxsim: \"%s\": sleep needs a whole number of ms from 1 to %ld\n",
              step.c_str(), MAX_SLEEP_MS);
      return false;
    }
  }
  return true;
}

int txFd = -1, rxFd = -1;

// A script's pause: the bus and the audio pipe are served meanwhile, so that a call the script
// makes carries its audio while it lasts.
void sleepWithAudio(long ms) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t end = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + ms;
  for (;;) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t left = end - (static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    if (left <= 0) return;
    struct pollfd fds[2] = {{ctx->sock.fd, POLLIN, 0}, {txFd, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    if (fds[0].revents & POLLIN) ubus_handle_event(ctx);
    if (fds[1].revents & POLLIN) readTxPipe(txFd);
  }
}

void runScriptStep(const std::string& step) {
  std::stringstream ss(step);
  std::string verb;
  ss >> verb;
  struct blob_buf b {};
  blob_buf_init(&b, 0);
  if (verb == "sleep") {
    std::string word;
    ss >> word;
    sleepWithAudio(sleepMs(word));
  } else if (verb == "signal") {
    int line;
    std::string sig, state;
    ss >> line >> sig >> state;
    blobmsg_add_u32(&b, "line", line);
    blobmsg_add_string(&b, "signal", sig.c_str());
    blobmsg_add_string(&b, "state", state.c_str());
    invokeEndpt("signal", &b);
  } else if (verb == "connection") {
    int line, id;
    std::string action;
    ss >> line >> id >> action;
    blobmsg_add_u32(&b, "line", line);
    blobmsg_add_u32(&b, "id", id);
    blobmsg_add_string(&b, "action", action.c_str());
    invokeEndpt("connection", &b);
  } else if (verb == "status" || verb == "count") {
    invokeEndpt(verb, &b);
  } else if (!verb.empty()) {
    printf("unknown script step: %s\n", verb.c_str());
  }
  blob_buf_free(&b);
}

void usage() {
  fprintf(stderr,
          "usage: pbxsim [-s socket] [--pipe-dir dir] [--no-answer] [--loop] [--record file]\n"
          "              [--pcap file.pcap] [--wav file.wav] [--send speech.wav] [--packets]\n"
          "              [--script \"step; step; ...\"] [--step-board board.sock] [--stamp]\n"
          "              [--stranger n] [--pause n:m] [--new-source]\n");
  exit(2);
}

void parseOptions(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    if (a == "-s") opt.socket = next();
    else if (a == "--pipe-dir") opt.pipeDir = next();
    else if (a == "--no-answer") opt.noAnswer = true;
    else if (a == "--loop") opt.loop = true;
    else if (a == "--packets") opt.everyPacket = true;
    else if (a == "--stamp") opt.stamp = true;
    else if (a == "--record") opt.recordPath = next();
    else if (a == "--script") opt.script = next();
    else if (a == "--pcap") opt.pcapPath = next();
    else if (a == "--wav") opt.wavPath = next();
    else if (a == "--send") opt.sendPath = next();
    else if (a == "--step-board") opt.stepBoard = next();
    else if (a == "--stranger") opt.stranger = std::atoi(next());
    else if (a == "--pause") {
      if (std::sscanf(next(), "%ld:%ld", &opt.pauseFrom, &opt.pauseLength) != 2 || opt.pauseFrom < 0 ||
          opt.pauseLength < 0)
        usage();
    } else if (a == "--new-source") opt.newSource = true;
    else usage();
  }
}

// Opens the capture, the far-end recording and the speech to send, as the options ask.
bool openMedia() {
  std::string error;
  if (!opt.pcapPath.empty() && !(receiver.capturing = receiver.pcap.open(opt.pcapPath, &error))) {
    fprintf(stderr, "pbxsim: cannot capture: %s\n", error.c_str());
    return false;
  }
  if (!opt.recordPath.empty() && !(receiver.recording = receiver.record.open(opt.recordPath, &error))) {
    fprintf(stderr, "pbxsim: cannot record to %s\n", error.c_str());
    return false;
  }
  if (!opt.wavPath.empty() && !(receiver.decoding = receiver.wav.open(opt.wavPath, 8000, &error))) {
    fprintf(stderr, "pbxsim: cannot record audio: %s\n", error.c_str());
    return false;
  }
  if (!opt.sendPath.empty() && !(sending = sender.open(opt.sendPath, &error))) {
    fprintf(stderr, "pbxsim: cannot send speech: %s\n", error.c_str());
    return false;
  }
  return true;
}

// The daemon reads the receive pipe and hands each frame to the DSP in its main loop, which also
// serves its ubus object: once the pipe is empty, the answer to a call made after that comes
// only when the frames read have been handed on. A daemon busy with a call of its own that waits
// for the DSP is not waited for.
void handOverToDaemon() {
  if (!pbxstep::waitPipeDrained(rxFd, 200)) return;
  static uint32_t endptId = 0;
  if (endptId == 0 && ubus_lookup_id(ctx, "endpt", &endptId) != 0) return;
  struct blob_buf b {};
  blob_buf_init(&b, 0);
  if (ubus_invoke(ctx, endptId, "count", b.head, nullptr, nullptr, 1000) == UBUS_STATUS_NOT_FOUND) endptId = 0;
  blob_buf_free(&b);
}

// One tick of the board, the daemon's packets of that tick answered and taken in; the time the
// next pass of the loop may wait.
std::unique_ptr<pbxstep::Stepper> stepper;
int stepBoard() {
  if (!stepper->engage() || !stepper->step()) return 20;
  const uint64_t before = framesToDaemon;
  while (readTxPipe(txFd)) {
  }
  if (framesToDaemon != before) handOverToDaemon();
  return 0;
}

void printMediaSummary() {
  for (const AudioStream& s : streams) {
    printf("audio line=%d cnx=%d: %llu packets (%llu RTP, %llu RTCP or not RTP), %llu bytes\n", s.line,
           s.cnx, static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.media),
           static_cast<unsigned long long>(s.frames - s.media), static_cast<unsigned long long>(s.bytes));
  }
  printf("rtp received %llu packets, %llu lost, %llu not G.711, %llu digit events, %llu reports, "
         "level %.2f dBm0\n",
         static_cast<unsigned long long>(receiver.packets()),
         static_cast<unsigned long long>(receiver.lost()),
         static_cast<unsigned long long>(receiver.undecoded()),
         static_cast<unsigned long long>(receiver.events()),
         static_cast<unsigned long long>(receiver.reports()), receiver.levelDbm0());
  // Every relayed event once more, now with all of its end packets counted.
  for (const pbxmedia::RelayedEvent& event : receiver.relayedEvents())
    printf("relayed %s\n", pbxmedia::describeRelayedEvent(event).c_str());
  printf("rtp sent %llu packets\n", static_cast<unsigned long long>(sender.packets()));
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  parseOptions(argc, argv);
  if (!scriptValid(opt.script)) return 2;
  if (!openMedia()) return 1;
  ctx = sim::connectOrExit(opt.socket, "pbxsim");

  asteriskObj.name = "asterisk";
  asteriskObj.type = &asterisk_type;
  asteriskObj.methods = asterisk_methods;
  asteriskObj.n_methods = 1;
  if (ubus_add_object(ctx, &asteriskObj) != 0) {
    fprintf(stderr, "pbxsim: cannot register \"asterisk\"\n");
    return 1;
  }
  txFd = openPipe("endpt_audio_tx");
  rxFd = openPipe("endpt_audio_rx");
  if (txFd < 0 || rxFd < 0) {
    fprintf(stderr, "pbxsim: cannot open the audio pipes in %s\n", opt.pipeDir.c_str());
    return 1;
  }
  txBus = tl_bus_new(txFd);
  rxBus = tl_bus_new(rxFd);
  tl_bus_add_handler(txBus, onAudioFrame);
  printf("pbxsim ready\n");

  if (!opt.script.empty()) {
    std::stringstream steps(opt.script);
    std::string step;
    while (std::getline(steps, step, ';')) {
      runScriptStep(step);
      ubus_handle_event(ctx);
    }
    printf("script done\n");
  }
  const std::vector<sim::Watch> watches{{txFd, [] { readTxPipe(txFd); }}};
  bool stopped;
  if (!opt.stepBoard.empty()) {
    stepper = std::make_unique<pbxstep::Stepper>(opt.stepBoard);
    stopped = sim::runLoop(ctx, watches, stepBoard);
    printf("pbxsim: %llu ticks stepped\n", stepper->steps());
    stepper->release();
  } else {
    stopped = sim::runLoop(ctx, watches);
  }
  receiver.record.close();
  printMediaSummary();
  if (stopped) ubus_remove_object(ctx, &asteriskObj);
  ubus_free(ctx);
  return stopped ? 0 : 1;
}
