// What the fax relay service's files share: the message codes of its modems, the packet and HDLC
// helpers, the T.30 handling and the page-data side.
#pragma once

#include <cstdint>

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
uint8_t pktCode(const HAPI_PKT_HDR* p);
// Sends a fax-relay packet with `bits` bits of `data` (words, first bit most significant); code-only
// packets pass data null. Control codes go out hsxnumv21msgsend + 1 times.
int hsffaxrsendpacket(HSZFAXRLOCLMEM* m, uint8_t code, const uint16_t* data, uint16_t bits);
void hsffaxrsendcmd(uint16_t header, uint16_t op1, uint16_t op2);
// Copies the words into scratch memory and sends them as an extended command.
bool hsffaxrsendextcmd(HSZFAXRLOCLMEM* m, uint16_t header, const uint16_t* words, uint16_t bytes, bool ingress);
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
// Hands a transmit block {bit count, words} to the modem of the state at hand.
void faxrtxhdlcdata(HSZFAXRLOCLMEM* m, const uint16_t* block);
uint16_t faxrcalculateFCS(uint16_t fcs, const uint8_t* octets, int n);

// ---- T.30 messages (faxr_t30.cpp) ----
void faxrrxhdlcdata(HSZFAXRLOCLMEM* m, int mode, const uint8_t* octets, int n);
void hsffaxrchangev21msg(HSZFAXRLOCLMEM* m, int direction, uint8_t* octets, int n);
void hsffaxrprocessv21msg(HSZFAXRLOCLMEM* m);
void hsffaxrprocessv21net(HSZFAXRLOCLMEM* m, uint16_t fcf, uint16_t fif0, bool final);
void hsffaxrprocessnetmsg(HSZFAXRLOCLMEM* m);
void hsffaxrv21txdata(HSZFAXRLOCLMEM* m);
void hsffaxrspoof(HSZFAXRLOCLMEM* m);
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
void faxrInitJBStm(FAXRJBSTM* stm);
void resetPageBuffer(HSZFAXRLOCLMEM* m);
void hsffaxrt4dataproc(HSZFAXRLOCLMEM* m);
void hsffaxrt4ecmdataproc(HSZFAXRLOCLMEM* m);
void hsffaxrsetrate(HSZFAXRLOCLMEM* m);
uint16_t sendDataPktToVFAX(HSZFAXRLOCLMEM* m, const uint16_t* block);
uint16_t localRate(const HSZFAXRLOCLMEM* m);

// ---- service (faxr_arc.cpp) ----
void hsffaxrevtmgr(HSZFAXRLOCLMEM* m, const HSFMSG& msg);
void setState(HSZFAXRLOCLMEM* m, HSEFAXRSTATE s);

}  // namespace faxr
