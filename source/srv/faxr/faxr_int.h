// What the fax relay service's files share: the message codes of its modems, the packet and HDLC
// helpers, the T.30 handling and the page-data side.
#pragma once

#include <cstdint>
#include <cstring>

#include "faxr.h"

namespace faxr {

constexpr HSF_IBD_MASK kToNetMask = 0x2;       // fax-relay packets towards the T.38 service
constexpr HSF_IBD_MASK kFromNetMask = 0x8002;  // fax-relay packets from the T.38 service
constexpr HSF_IBD_MASK kModemMask = 0x10;      // local-modem events

// Commands to the modems.
constexpr uint16_t kV21Enable = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_ENABLE_CMD);      // 0x0DB0
constexpr uint16_t kV21SetReg1 = HSF_MKHDR(HAPI_V21_SRV, HAPI_OPC_SETREG1_CMD);    // 0x0DB4
constexpr uint16_t kV21RxMode = HSF_MKCMD_STD(HAPI_V21_SRV, 4);                    // 0x0D84
constexpr uint16_t kV21Tone = HSF_MKCMD_STD(HAPI_V21_SRV, 7);                      // 0x0D87
constexpr uint16_t kV21TxData = HSF_MKCMD_EXT(HAPI_V21_SRV, 8);                    // 0x0D08
constexpr uint16_t kVfxEnable = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_ENABLE_CMD);     // 0x11B0
constexpr uint16_t kVfxSetReg1 = HSF_MKHDR(HAPI_VFAX_SRV, HAPI_OPC_SETREG1_CMD);   // 0x11B4
constexpr uint16_t kVfxRx = HSF_MKCMD_STD(HAPI_VFAX_SRV, 9);                       // 0x1189
constexpr uint16_t kVfxTx = HSF_MKCMD_STD(HAPI_VFAX_SRV, 5);                       // 0x1185
constexpr uint16_t kVfxTxData = HSF_MKCMD_EXT(HAPI_VFAX_SRV, 6);                   // 0x1106

// Events of the modems.
constexpr uint16_t kVfxRxData = HSF_MKEVT_EXT(HAPI_VFAX_SRV, 17);   // 0x1151
constexpr uint16_t kVfxTcfDone = HSF_MKEVT_STD(HAPI_VFAX_SRV, 20);  // 0x11D4
constexpr uint16_t kVfxRxEnd = HSF_MKEVT_STD(HAPI_VFAX_SRV, 21);    // 0x11D5
constexpr uint16_t kVfxTxDone = HSF_MKEVT_STD(HAPI_VFAX_SRV, 24);   // 0x11D8
constexpr uint16_t kVfxRxDone = HSF_MKEVT_STD(HAPI_VFAX_SRV, 27);   // 0x11DB
constexpr uint16_t kVfxRxTrain = HSF_MKEVT_STD(HAPI_VFAX_SRV, 28);  // 0x11DC
constexpr uint16_t kVfxTxBits = HSF_MKEVT_STD(HAPI_VFAX_SRV, 29);   // 0x11DD
constexpr uint16_t kVfxPoolLow = HSF_MKEVT_STD(HAPI_VFAX_SRV, 30);  // 0x11DE
constexpr uint16_t kV21RxData = HSF_MKEVT_EXT(HAPI_V21_SRV, 2);     // 0x0D42
constexpr uint16_t kV21TxBits = HSF_MKEVT_STD(HAPI_V21_SRV, 1);     // 0x0DC1
constexpr uint16_t kV21TxUflow = HSF_MKEVT_STD(HAPI_V21_SRV, 5);    // 0x0DC5
constexpr uint16_t kV21NoCarrier = HSF_MKEVT_STD(HAPI_V21_SRV, 9);  // 0x0DC9
constexpr uint16_t kV21Ced = HSF_MKEVT_STD(HAPI_V21_SRV, 14);       // 0x0DCE
constexpr uint16_t kV21Cng = HSF_MKEVT_STD(HAPI_V21_SRV, 15);       // 0x0DCF
constexpr uint16_t kV21PoolLow = HSF_MKEVT_STD(HAPI_V21_SRV, 20);   // 0x0DD4

constexpr uint16_t kTxBlockWords = 1 + 56;  // a bit count and 896 bits: a stuffed 672-bit chunk with FCS fits
constexpr uint16_t kModemBlockBits = 816;   // the most one command to a modem carries

// ---- packets (faxr_pkt.cpp) ----
uint16_t bitrev16(uint16_t w);
void hsffaxrbitrev(uint16_t* words, int n);
// Data words of a packet (after its bit count) and its valid bits, bounded by what it carries.
uint16_t pktBits(const HAPI_PKT_HDR* p);
uint16_t* pktData(HAPI_PKT_HDR* p);
// Sets the bit count and the payload length that holds it.
void setPktBits(HAPI_PKT_HDR* p, uint16_t bits);
uint8_t pktCode(const HAPI_PKT_HDR* p);
// Sends a fax-relay packet with `bits` bits of `data` (words, first bit most significant); code-only
// packets pass data null. Control codes go out hsxnumv21msgsend + 1 times.
int hsffaxrsendpacket(HSZFAXRLOCLMEM* m, uint8_t code, const uint16_t* data, uint16_t bits);
void hsffaxrsendcmd(uint16_t header, uint16_t op1, uint16_t op2);
// Commands between services are queued and run when the frame's work is done, so the
// asynchronous senders are the same as the plain ones.
inline void hsffaxrsendcmdasync(uint16_t header, uint16_t op1, uint16_t op2) { hsffaxrsendcmd(header, op1, op2); }
// Scratch memory for an extended command of `bytes` the caller fills and sends; none (counted as
// an overrun of the direction) when the scratch is spent.
uint16_t* allocExtCmd(HSZFAXRLOCLMEM* m, uint16_t bytes, bool ingress);
// Copies the words into scratch memory and sends them as an extended command.
bool hsffaxrsendextcmd(HSZFAXRLOCLMEM* m, uint16_t header, const uint16_t* words, uint16_t bytes, bool ingress);
inline bool hsffaxrsendextcmdasync(HSZFAXRLOCLMEM* m, uint16_t header, const uint16_t* words, uint16_t bytes) {
  return hsffaxrsendextcmd(m, header, words, bytes, true);
}
// Event to the host, sent only when events are on unless `always`.
void faxrEvent(HSZFAXRLOCLMEM* m, uint16_t code, uint16_t op1, uint16_t op2, bool always = false);
void restartSilence(HSZFAXRLOCLMEM* m);
void count16(uint16_t& c);

// ---- HDLC (faxr_hdlc.cpp) ----
void faxrhdlcinit(HDLC* h, void* srvp);
// mode 0: `count` flags; 1: a frame chunk; 2: last chunk with its FCS; 3: last chunk with a bad FCS.
// A chunk is `bits` bits of `data` (first bit most significant).
void faxrhdlcprocesstxpkt(HSZFAXRLOCLMEM* m, int mode, const uint16_t* data, uint16_t bits);
// One received block {bit count, words}, first bit most significant.
void faxrhdlcprocessrxpkt(HSZFAXRLOCLMEM* m, const uint16_t* block, uint16_t maxWords);
// Ends the frame being sent, whose end never came, with a bad FCS and a flag; counted as a bad
// frame to the line.
void faxrhdlcendbad(HSZFAXRLOCLMEM* m);
// The receiving half of the framer back to looking for a preamble; the sending half is left alone.
void faxrhdlcrxreset(HDLC* h);
// Whether octets of the frame being received have already been passed on.
bool faxrhdlcrxpassedon(const HDLC& h);
// Hands a transmit block {bit count, words} to the modem of the state at hand.
void faxrtxhdlcdata(HSZFAXRLOCLMEM* m, const uint16_t* block);
uint16_t faxrcalculateFCS(uint16_t fcs, const uint8_t* octets, int n);

// ---- T.30 messages (faxr_t30.cpp) ----
void faxrrxhdlcdata(HSZFAXRLOCLMEM* m, int mode, const uint8_t* octets, int n);
// A frame from the line that stops without its closing flag (an abort, the end of the carrier or
// of the page data) after part of it went to the network is closed there as bad, so that the far
// end never joins that part to what follows.
void faxrrxframecut(HSZFAXRLOCLMEM* m);
// The relay stops following the line's V.21 frame under way (its V.21 modem turns to send): what
// went to the network of it ends there at once, bad, and so does the signal, and the receiver
// looks for a new preamble.
void faxrrxv21framestop(HSZFAXRLOCLMEM* m);
// The same when the framer starts again, which also ends an ECM page frame under way as bad.
void faxrrxframestop(HSZFAXRLOCLMEM* m);
void hsffaxrchangev21msg(HSZFAXRLOCLMEM* m, int direction, uint8_t* octets, int n);
void hsffaxrprocessv21msg(HSZFAXRLOCLMEM* m);
void hsffaxrprocessv21net(HSZFAXRLOCLMEM* m, uint16_t fcf, uint16_t fif0, bool final);
void hsffaxrprocessnetmsg(HSZFAXRLOCLMEM* m);
void hsffaxrv21txdata(HSZFAXRLOCLMEM* m);
// A frame from the network whose octets stopped coming, without its end, for longer than the
// network may delay them (`ms` more this tick) lost its rest: it ends bad, and the line is not
// held waiting for it.
void hsffaxrv21txstall(HSZFAXRLOCLMEM* m, uint16_t ms);
void hsffaxrspoof(HSZFAXRLOCLMEM* m, uint16_t ms);
void hsffaxrsendmsg(HSZFAXRLOCLMEM* m);
void startSpoofing(HSZFAXRLOCLMEM* m);
void goWaitNetMsg(HSZFAXRLOCLMEM* m);
uint16_t rateFromDcsField(uint16_t field);
void freeQueue(QMQUEUE* q);

// ---- page data (faxr_page.cpp) ----
extern const uint16_t hstfaxrpacketbitsize[11];
extern const uint16_t hstfaxrtrainerrthresh[11];
extern const uint8_t hstfaxrdatatraincode[14];
extern const uint16_t bytesToMask[10];
bool ecmPage(const HSZFAXRLOCLMEM* m);
void handleHighSpeedDataPacket(HSZFAXRLOCLMEM* m, HAPI_PKT_HDR* pkt);
void addDataToJitterBuffer(HSZFAXRLOCLMEM* m, QMQUEUE* q, HAPI_PKT_HDR* pkt);
// Page bits are held first bit most significant in 16-bit words.
void copyBits(uint16_t* dst, int dstAt, const uint16_t* src, int srcAt, int n);
int findEOLEnd(const uint16_t* words, int bits, uint16_t& zeros);
void faxrInitJBStm(FAXRJBSTM* stm);
void resetPageBuffer(HSZFAXRLOCLMEM* m);
// The most octets (without FCS) an ECM frame from the network may have in the mode chosen.
uint16_t ecmFrameLimit(const HSZFAXRLOCLMEM* m);
// A new signal from the network in the middle of an ECM frame means the rest of that frame was
// lost: the frame ends bad where it stands, and its later octets up to its end are dropped (between
// frames, those of the next frame, whose start the signal may have taken).
void cutEcmFrameFromNet(HSZFAXRLOCLMEM* m);
// The same for a V.21 frame from the network: it ends bad where it stands (its queued octets first,
// when some wait). What follows of it starts without an address and control octet, and no frame
// that starts so reaches the line with a good FCS.
void cutV21FrameFromNet(HSZFAXRLOCLMEM* m);
// In a queued network packet the high time stamp word, which no receiver reads, marks:
// a V.21 frame end the relay made itself when a new signal cut the frame;
constexpr uint16_t FAXR_PKT_CUT_BY_RELAY = 1;
// the first packet taken after one was dropped for want of a block: the frames open across the
// drop lost octets and end bad there.
constexpr uint16_t FAXR_PKT_LOST_BEFORE = 2;
// a V.21 data or good end packet the T.38 service handed on right after the one before it, which
// the peer's own datagram carried beside it or, without copies, numbered right after it
// (HAPI_PKT_MARK_FOLLOWS there): nothing of the frame lies between.
constexpr uint16_t FAXR_PKT_FOLLOWS = 3;
// The last packet of a queue, or none.
HAPI_PKT_HDR* queueTail(QMQUEUE* q);
void hsffaxrt4dataproc(HSZFAXRLOCLMEM* m);
void hsffaxrt4ecmdataproc(HSZFAXRLOCLMEM* m);
void hsffaxrsetrate(HSZFAXRLOCLMEM* m);
uint16_t sendDataPktToVFAX(HSZFAXRLOCLMEM* m, const uint16_t* data, uint16_t bits);
uint16_t localRate(const HSZFAXRLOCLMEM* m);

// ---- service (faxr_arc.cpp) and its states (faxr_state.cpp) ----
void setState(HSZFAXRLOCLMEM* m, HSEFAXRSTATE s);
void flushQueues(HSZFAXRLOCLMEM* m);
// The state's work of one ingress tick of `ms` milliseconds.
void tickAction(HSZFAXRLOCLMEM* m, uint16_t ms);
void hsffaxrevtmgr(HSZFAXRLOCLMEM* m, const HSFMSG& msg);

// ---- status words ----

inline bool enabled(const HSZFAXRLOCLMEM* m) { return (m->hsxstatus & FAXR_ENABLED) != 0; }
inline void setStatus(HSZFAXRLOCLMEM* m, uint16_t bits) { m->hsxstatus = static_cast<uint16_t>(m->hsxstatus | bits); }
inline void clearStatus(HSZFAXRLOCLMEM* m, uint16_t bits) { m->hsxstatus = static_cast<uint16_t>(m->hsxstatus & ~bits); }
inline void setInt(HSZFAXRLOCLMEM* m, uint16_t bits) { m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus | bits); }
inline void clearInt(HSZFAXRLOCLMEM* m, uint16_t bits) { m->hsxintstatus = static_cast<uint16_t>(m->hsxintstatus & ~bits); }
inline void clearV21(HSZFAXRLOCLMEM* m, uint16_t bits) {
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~bits);
}
// The V.21 modem is done sending: its receiver goes back on and nothing is counted as still to
// go. Every path that ends a transmission comes here, so that no way out of one (its last bit
// gone, an abort that flushed what was queued) leaves the line's frames unheard. After a final
// frame the line's terminal has the turn: the relay listens for its answer before it sends
// anything more of the network's.
inline void v21TxDone(HSZFAXRLOCLMEM* m) {
  hsffaxrsendcmdasync(kV21RxMode, 1, 0);
  m->hsxfaxrv21.hsxcounter = 0;
  // the carrier is down: the next frame starts a burst of its own and goes after a whole preamble,
  // or the line's terminal, finding its flags only as the frame comes, misses the frame
  m->hsxfaxrv21.hsxtxnumhdlc = 0;
  if (m->hsxfaxrv21.hsxstatus & FAXR_V21_TXFINALSENT) m->hsxfaxrv21.lineTurn = 0;
  clearV21(m, FAXR_V21_TXBUSY | FAXR_V21_NETPREAMBLE | FAXR_V21_TXFINALSENT);
}

// How long the line's terminal has, after a final frame to it, to start its answer: the gap before
// an answer (75 ms) and the time its carrier takes to be heard, with room to spare.
constexpr uint16_t kLineTurnMs = 500;

// The line has the turn: a final frame is going to it, its terminal may still start its answer, or
// is sending it. Nothing more of the network's goes to the line meanwhile (a burst queued behind
// the final frame waits, one that comes is dropped): the far end waits for that answer too, so
// what the network brings then is no answer (a repeat the answer supersedes, often the past
// renumbered), and the modem turning to send would stop the relay hearing the line and lose the
// line's frame. (After the line's final frame the turn is the far end's: its answer takes the line
// even from a repeat the line started meanwhile.)
inline bool lineHasTurn(const HSZFAXRLOCLMEM* m) {
  const HSZFAXRV21MODEM& v = m->hsxfaxrv21;
  return (v.hsxstatus & (FAXR_V21_TXFINALSENT | FAXR_V21_LINEANSWER)) != 0 || v.lineTurn < kLineTurnMs;
}
// The line's terminal sends, in its turn or not: a frame from the network whose bits ran out (the
// modem idle in its middle, the line heard it end there) does not go on over the line's burst.
inline bool lineSends(const HSZFAXRLOCLMEM* m) { return lineHasTurn(m) || (m->hsxfaxrv21.hsxstatus & FAXR_V21_LINEBURST) != 0; }
inline void clearFax(HSZFAXRLOCLMEM* m, uint16_t bits) {
  m->hsxfaxrfax.hsxstatus = static_cast<uint16_t>(m->hsxfaxrfax.hsxstatus & ~bits);
}
inline void setFax(HSZFAXRLOCLMEM* m, uint16_t bits) { m->hsxfaxrfax.hsxstatus = static_cast<uint16_t>(m->hsxfaxrfax.hsxstatus | bits); }
// A reset of the framer loses the line's frame under way: it is stopped first.
inline void hdlcReset(HSZFAXRLOCLMEM* m) {
  faxrrxframestop(m);
  faxrhdlcinit(&m->hsxdatahdlc, m);
}

// ---- the frame being assembled in hsxrxbuf: word 0 the bit count, then the octets ----

inline uint16_t frameBits(const HSZFAXRV21MODEM& v) { return v.hsxrxbuf[0]; }

inline uint8_t frameOctet(const HSZFAXRV21MODEM& v, int i) {
  if (i < 0 || i * 8 >= v.hsxrxbuf[0]) return 0;
  const uint16_t w = v.hsxrxbuf[1 + i / 2];
  return static_cast<uint8_t>((i & 1) ? w : w >> 8);
}

// A frame ends, one from the line or one towards it: the buffer empties, and that direction's
// rewriting starts again at the next frame's first octet. The other direction's count goes on: a
// frame the line sends while a network frame goes to it (a collision) is rewritten by its own
// octets, never from an octet the other frame's end happened to meet.
inline void clearFrame(HSZFAXRV21MODEM& v, CHANGEV21MSG& rewriting) {
  std::memset(v.hsxrxbuf, 0, sizeof(v.hsxrxbuf));
  rewriting = CHANGEV21MSG{};
}
inline void clearLineFrame(HSZFAXRV21MODEM& v) { clearFrame(v, v.changeIngressMsg); }
inline void clearNetFrame(HSZFAXRV21MODEM& v) { clearFrame(v, v.changeEgressMsg); }

// Appends whole octets; false (nothing appended) when the frame would pass its limit.
inline bool appendFrame(HSZFAXRV21MODEM& v, const uint8_t* octets, int n) {
  if (frameBits(v) + n * 8 > FAXR_MAX_FRAME_BITS) return false;
  for (int i = 0; i < n; ++i) {
    const int at = v.hsxrxbuf[0] / 8;
    uint16_t& w = v.hsxrxbuf[1 + at / 2];
    w = static_cast<uint16_t>((at & 1) ? ((w & 0xFF00) | octets[i]) : ((w & 0x00FF) | (octets[i] << 8)));
    v.hsxrxbuf[0] = static_cast<uint16_t>(v.hsxrxbuf[0] + 8);
  }
  return true;
}

inline void packOctets(const uint8_t* octets, int n, uint16_t* words) {
  for (int i = 0; i < (n + 1) / 2; ++i) words[i] = 0;
  for (int i = 0; i < n; ++i) words[i / 2] = static_cast<uint16_t>(words[i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
}

// The octet at i of words packed as packOctets packs them (first octet in the high half).
inline uint8_t wordOctet(const uint16_t* words, int i) {
  return static_cast<uint8_t>((i & 1) ? words[i / 2] : words[i / 2] >> 8);
}

inline void stopSpoofing(HSZFAXRLOCLMEM* m) {
  m->hsxfaxrv21.hsxstatus = static_cast<uint16_t>(m->hsxfaxrv21.hsxstatus & ~FAXR_V21_SPOOF);
}

}  // namespace faxr
