// Datagram queue of the T.38 service: variable-length records of 16-bit words kept in chains of
// fixed-size pool blocks, so that a queue of them can be reordered as whole records; and the
// T.38 receive record built on it. Also the network-impairment injector.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "hsf/hsf.h"
#include "mem/mem.h"

// The part of a pool block after its header. In a datagram's first block `len` is the
// datagram's length in words; continuation blocks carry 0.
struct DG_DTGM {
  uint16_t len;
  uint16_t data[1];  // dgDataSize words follow
};

constexpr uint16_t DG_MAGIC = 0xA110;
constexpr uint32_t DG_BLOCK_BYTES = 80;  // usable bytes of a block: the length word and 39 data words
// Blocks one record may chain: a receive record of the longest IFP packet the receiver carries
// (t38_udptl.h holds it to that).
constexpr int DG_MAX_BLOCKS = 27;

struct DG_HDL {
  QMQUEUE qhdr;    // the datagram's blocks
  uint16_t* wp;    // write position
  uint16_t* rp;    // read position
  DG_DTGM* rdgp;   // block being read
  uint16_t dgDataSize;
  uint16_t magic;
  MEM_BufPool* heapId;
};

DG_DTGM* dg_init(MEM_BufPool* pool, DG_HDL* hdl, DG_DTGM* existing);
void initHdl(DG_HDL* hdl);
bool dg_isValidLength(const DG_HDL* hdl);
uint16_t dg_write(DG_HDL* hdl, const uint16_t* words, uint16_t n);
uint16_t dg_readShiftLeft(uint16_t* dst, DG_HDL* hdl, uint16_t n, uint16_t carry, int16_t shift);
uint16_t dg_read(uint16_t* dst, DG_HDL* hdl, uint16_t n);
uint16_t dg_len(const DG_HDL* hdl);
void dg_free(DG_DTGM* record);
void dg_enq(QMQUEUE* queue, DG_HDL* hdl);
bool dg_deq(QMQUEUE* queue, DG_HDL* hdl);
DG_DTGM* dg_QmPeekFront(const QMQUEUE* queue);
DG_DTGM* dg_QmPeekLink(const DG_DTGM* record);
void dg_QmInsert(QMQUEUE* queue, DG_HDL* hdl, DG_DTGM* record);
void dg_QmInsertFront(QMQUEUE* queue, DG_HDL* hdl);
// Takes the record out of the queue and frees it.
void dg_QmRemove(QMQUEUE* queue, DG_DTGM* record);
int dg_copy(DG_HDL* dst, DG_HDL* src, uint16_t n);
// Blocks a datagram of n words occupies.
constexpr int dg_blocksFor(uint16_t n, uint16_t dataSize) { return n / dataSize + 1; }

// ---- the T.38 receive record: sequence number, arrival time, then the IFP octets ----
// n octets two to a word, the first in the low half, a last odd one with a zero high half: on a
// little-endian host the octets as they lie.
inline void t38egr_ifp_pack(uint16_t* words, const uint8_t* octets, int n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(words, octets, static_cast<size_t>(n));
    if (n & 1) words[n / 2] = octets[n - 1];
  } else {
    for (int i = 0; i < n; i += 2) words[i / 2] = static_cast<uint16_t>(octets[i] | (i + 1 < n ? octets[i + 1] << 8 : 0));
  }
}
// The first n octets of words packed so.
inline void t38egr_ifp_unpack(uint8_t* octets, const uint16_t* words, int n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(octets, words, static_cast<size_t>(n));
  } else {
    for (int i = 0; i < n; ++i) octets[i] = static_cast<uint8_t>(words[i / 2] >> (8 * (i & 1)));
  }
}

struct EGR_IFP_PKT {
  uint16_t sequenceNum;
  uint16_t arrivalTime;
  uint16_t ifpPacket[1];  // two octets to a word, first octet in the low half
};

bool t38egr_ifp_init(MEM_BufPool* pool, DG_HDL* hdl);
uint16_t t38egr_ifp_write(DG_HDL* hdl, const uint16_t* words, uint16_t n);
uint16_t t38egr_ifp_read(uint16_t* dst, DG_HDL* hdl, uint16_t n);
uint16_t t38egr_ifp_len(const DG_HDL* hdl);
void t38egr_ifp_write_sequenceNum(DG_HDL* hdl, uint16_t s);
void t38egr_ifp_write_arrivaltime(DG_HDL* hdl, uint16_t t);
uint16_t t38egr_ifp_rd_sequenceNum(const EGR_IFP_PKT* pkt);
uint16_t t38egr_ifp_rd_arrivaltime(const EGR_IFP_PKT* pkt);
EGR_IFP_PKT* t38egr_ifp_getifpFromHandle(const DG_HDL* hdl);
EGR_IFP_PKT* t38egr_ifp_QmPeekFront(const QMQUEUE* queue);
EGR_IFP_PKT* t38egr_ifp_QmPeekLink(const EGR_IFP_PKT* pkt);
// The record numbered `sequenceNum` in the queue, or none.
EGR_IFP_PKT* t38egr_ifp_find(const QMQUEUE* queue, uint16_t sequenceNum);
// The IFP octets of a queued record, at most `cap` (the record holds whole words: a pad octet may follow).
int t38egr_ifp_octets(const EGR_IFP_PKT* pkt, uint8_t* out, int cap);
void t38egr_ifp_remove(QMQUEUE* queue, EGR_IFP_PKT* pkt);
void t38egr_ifp_QmInsert(QMQUEUE* queue, DG_HDL* hdl, EGR_IFP_PKT* after);
void t38egr_ifp_QmInsertFront(QMQUEUE* queue, DG_HDL* hdl);
void t38egr_ifp_Enq(QMQUEUE* queue, DG_HDL* hdl);
bool t38egr_ifp_deq(QMQUEUE* queue, DG_HDL* hdl);
void t38egr_ifp_free(EGR_IFP_PKT* pkt);

// ---- network-impairment injector ----
struct HSZIMPAIR {
  uint16_t delay;
  uint16_t jitter;
  uint16_t reorder;
  uint16_t re_counter;
  int16_t pSeed;
  HSFMSG reorderq[32];
  uint16_t reorderQin, reorderQout, reorderQcount, reordercount, reorderflushtimer;
  HSFMSG impairQ[32];
  uint16_t impairQin, impairQout, impairQcount, currentjitter, impairtimer;
};

void hsfimpairinit(HSZIMPAIR* imp);
void hsfimpairmentinput(HSZIMPAIR* imp, const HSFMSG* msg);
void hsfimpairblk(HSZIMPAIR* imp);
void hsfimpairtimer(HSZIMPAIR* imp);
void hsfimpairflush(HSZIMPAIR* imp);
void lbsetdelay(HSZIMPAIR* imp, uint16_t value);
void lbsetjitter(HSZIMPAIR* imp, uint16_t value);
void lbsetpacketloss(HSZIMPAIR* imp, uint16_t value);
void lbsetreorder(HSZIMPAIR* imp, uint16_t value);
// Test harnesses take the delivered messages here instead of the channel's in-band queue.
using HSFIMPAIRSINK = void (*)(const HSFMSG* msg);
void hsfimpairSetSink(HSFIMPAIRSINK sink);
