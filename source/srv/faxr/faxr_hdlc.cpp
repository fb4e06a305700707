// The HDLC bit layer of the fax relay service: flags, zero insertion and the frame check sequence
// towards the modems, and flag search, zero deletion and frame checking of what they receive.
// Bits are held with the first line bit most significant.
#include <array>
#include <bit>
#include <cstring>

#include "faxr_int.h"

namespace faxr {

namespace {

constexpr std::array<uint16_t, 256> makeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    t[static_cast<size_t>(i)] = c;
  }
  return t;
}

// A flag and the run after which a zero goes in, as {bits, pattern}.
struct BITPATTERN {
  uint16_t bits;
  uint16_t pattern;
};
constexpr BITPATTERN hdlcflag = {8, 0x7E};
constexpr BITPATTERN fiveOnes = {5, 0x1F};

// Whether the last bits written (`recent`, newest lowest) end in five ones.
constexpr bool findOnes(uint16_t recent) {
  return (recent & ((1u << fiveOnes.bits) - 1)) == fiveOnes.pattern;
}

}  // namespace

// Most-significant-bit-first table of the CRC-16 polynomial 0x1021.
constexpr std::array<uint16_t, 256> hstfaxrcrcTab = makeCrcTable();
static_assert(hstfaxrcrcTab[1] == 0x1021 && hstfaxrcrcTab[255] == 0x1EF0);

namespace {

// What an octet's table entry becomes one octet later: the CRC being linear, two octets then take
// two independent look-ups, `a` (the high octet with the first) here and the low octet with the
// second in the plain table.
constexpr std::array<uint16_t, 256> makeCrcTable2() {
  std::array<uint16_t, 256> t{};
  for (size_t a = 0; a < 256; ++a)
    t[a] = static_cast<uint16_t>(((hstfaxrcrcTab[a] & 0xFF) << 8) ^ hstfaxrcrcTab[hstfaxrcrcTab[a] >> 8]);
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTab2 = makeCrcTable2();

}  // namespace

uint16_t faxrcalculateFCS(uint16_t fcs, const uint8_t* octets, int n) {
  int i = 0;
  for (; i + 2 <= n; i += 2)
    fcs = static_cast<uint16_t>(kCrcTab2[((fcs >> 8) ^ octets[i]) & 0xFF] ^ hstfaxrcrcTab[(fcs ^ octets[i + 1]) & 0xFF]);
  for (; i < n; ++i) fcs = static_cast<uint16_t>((fcs << 8) ^ hstfaxrcrcTab[((fcs >> 8) ^ octets[i]) & 0xFF]);
  return fcs;
}

void faxrhdlcinit(HDLC* h, void* srvp) {
  *h = HDLC{};
  h->txfcs = 0xFFFF;
  faxrhdlcrxreset(h);
  h->srvp = srvp;
}

void faxrhdlcrxreset(HDLC* h) {
  h->preambledet = false;
  h->rxstate = FIND_FIRST_FLAG;
  h->rxhdlccnt = 0;
  h->rxcarrybits = 0;
  h->rxcarryO = 16;
  h->rxsavedbits = 0;
  h->rxsavednum = 0;
  h->rxfcs = 0xFFFF;
  h->rxtotalbits = 0;
}

// ---- transmit ----

namespace {

struct BitWriter {
  uint16_t* words;  // words[0] is the bit count
  uint16_t cap;
  uint16_t n = 0;
  void put(int bit) {
    if (n >= cap) return;
    if (bit) words[1 + n / 16] = static_cast<uint16_t>(words[1 + n / 16] | (0x8000 >> (n % 16)));
    ++n;
  }
};

// An octet as it goes to the line after a run of 0 to 4 ones: its bits with a zero after every
// five ones in a row, counting the run (at most two zeros go in), and the run of ones it ends in.
struct StuffedOctet {
  uint16_t bits;
  uint8_t count;
  uint8_t run;
};
constexpr std::array<StuffedOctet, 5 * 256> makeStuffTable() {
  std::array<StuffedOctet, 5 * 256> t{};
  for (int run = 0; run < 5; ++run)
    for (int octet = 0; octet < 256; ++octet) {
      uint32_t bits = 0;
      int count = 0, ones = run;
      for (int b = 7; b >= 0; --b) {
        const int bit = (octet >> b) & 1;
        bits = (bits << 1) | static_cast<uint32_t>(bit);
        ++count;
        ones = bit ? ones + 1 : 0;
        if (ones == fiveOnes.bits) {
          bits <<= 1;
          ++count;
          ones = 0;
        }
      }
      t[static_cast<size_t>(run * 256 + octet)] = {static_cast<uint16_t>(bits), static_cast<uint8_t>(count),
                                                   static_cast<uint8_t>(ones)};
    }
  return t;
}
constexpr std::array<StuffedOctet, 5 * 256> kStuffed = makeStuffTable();
static_assert(kStuffed[0xEF].count == 8 && kStuffed[0xF8].bits == 0x1F0 && kStuffed[3 * 256 + 0xE0].bits == 0x1A0 &&
              kStuffed[4 * 256 + 0xFF].count == 10 && kStuffed[4 * 256 + 0xFF].bits == 0x2FB &&
              kStuffed[4 * 256 + 0xFF].run == 2 && kStuffed[1 * 256 + 0x0F].run == 4);

void sendFlags(HSZFAXRLOCLMEM* m, int count) {
  while (count > 0) {
    // 84 flags a block while 86 or more remain, then the rest (up to 85 flags) in one block
    const int now = count >= 86 ? 84 : count;
    uint16_t block[1 + kModemBlockBits / 16] = {};
    static_assert(85 * 8 <= kModemBlockBits, "the last flag block holds up to 85 flags");
    block[0] = static_cast<uint16_t>(now * 8);
    for (int i = 0; i < now; ++i)
      block[1 + i / 2] = static_cast<uint16_t>(block[1 + i / 2] | ((i & 1) ? hdlcflag.pattern : hdlcflag.pattern << 8));
    faxrtxhdlcdata(m, block);
    count -= now;
  }
  m->hsxdatahdlc.txlast4bits = 0;
}

}  // namespace

void faxrhdlcprocesstxpkt(HSZFAXRLOCLMEM* m, int mode, const uint16_t* data, uint16_t bits) {
  HDLC& h = m->hsxdatahdlc;
  if (mode == 0) {
    sendFlags(m, bits);
    return;
  }
  if (bits > FAXR_MAX_PKT_BITS) bits = FAXR_MAX_PKT_BITS;
  uint8_t octets[FAXR_MAX_PKT_BITS / 8 + 2];
  const int whole = bits / 8;
  for (int i = 0; i < (bits + 7) / 8; ++i) octets[i] = wordOctet(data, i);
  h.txfcs = faxrcalculateFCS(h.txfcs, octets, whole);
  uint16_t block[kTxBlockWords] = {};
  BitWriter w{block, static_cast<uint16_t>((kTxBlockWords - 1) * 16)};
  // the search for five ones starts with the last bits of the previous data block
  uint16_t recent = h.txlast4bits;
  auto putStuffed = [&](int bit) {
    w.put(bit);
    recent = static_cast<uint16_t>((recent << 1) | bit);
    if (findOnes(recent)) {  // a zero after every five ones, also across chunk boundaries
      w.put(0);
      recent = static_cast<uint16_t>(recent << 1);
    }
  };
  // whole octets by the table, after the run of ones the last bits written end in (never five: a
  // zero follows those), their bits gathered in a register and written to the new block a word at
  // a time; a part octet, or one that might not fit, bit by bit
  int i = 0;
  unsigned run = static_cast<unsigned>(std::countr_one(static_cast<uint16_t>(recent & 0xF)));
  uint32_t gathered = 0;
  int gatheredBits = 0, word = 0;
  for (; i + 8 <= bits; i += 8) {
    const StuffedOctet o = kStuffed[run * 256 + octets[i / 8]];
    if (w.n + o.count > w.cap) break;
    gathered = (gathered << o.count) | o.bits;
    gatheredBits += o.count;
    if (gatheredBits >= 16) {
      gatheredBits -= 16;
      block[1 + word++] = static_cast<uint16_t>(gathered >> gatheredBits);
    }
    w.n = static_cast<uint16_t>(w.n + o.count);
    recent = static_cast<uint16_t>((recent << o.count) | o.bits);
    run = o.run;
  }
  if (gatheredBits > 0) block[1 + word] = static_cast<uint16_t>(gathered << (16 - gatheredBits));
  for (; i < bits; ++i) putStuffed((octets[i / 8] >> (7 - i % 8)) & 1);
  if (mode >= 2) {
    // a bad FCS is 0x0000, unless that happens to be the frame's good one
    const uint16_t good = static_cast<uint16_t>(~h.txfcs);
    const uint16_t fcs = mode == 2 ? good : (good == 0 ? 0xFFFF : 0);
    for (int i = 15; i >= 0; --i) putStuffed((fcs >> i) & 1);
    h.txfcs = 0xFFFF;
  }
  h.txlast4bits = static_cast<uint16_t>(recent & 0xF);
  block[0] = w.n;
  faxrtxhdlcdata(m, block);
}

void faxrhdlcendbad(HSZFAXRLOCLMEM* m) {
  faxrhdlcprocesstxpkt(m, 3, nullptr, 0);
  faxrhdlcprocesstxpkt(m, 0, nullptr, 1);
  count16(m->hsxfaxrStats.egress.hsxbadframeCount);
}

void faxrtxhdlcdata(HSZFAXRLOCLMEM* m, const uint16_t* block) {
  const uint16_t total = block[0];
  const bool toFax = m->hsxfaxrstate.hsxstate == HSFAXRTXLOCALDATA;
  // a modem takes at most one block of 816 bits in a command: longer ones go in pieces
  for (uint16_t at = 0; at < total;) {
    const uint16_t n = static_cast<uint16_t>(total - at > kModemBlockBits ? kModemBlockBits : total - at);
    uint16_t piece[1 + kModemBlockBits / 16] = {};
    piece[0] = n;
    copyBits(piece + 1, 0, block + 1, at, n);
    const uint16_t words = static_cast<uint16_t>((n + 15) / 16);
    hsffaxrbitrev(piece + 1, words);
    const uint16_t bytes = static_cast<uint16_t>((words + 1) * 2);
    if (toFax) {
      if (hsffaxrsendextcmd(m, kVfxTxData, piece, bytes, true))
        m->hsxfaxrfax.hsxcounter = static_cast<int16_t>(m->hsxfaxrfax.hsxcounter + n);
    } else {
      HSZFAXRV21MODEM& v = m->hsxfaxrv21;
      if (!(v.hsxstatus & FAXR_V21_TXBUSY)) {
        faxrrxv21framestop(m);  // the modem stops receiving as it turns to send
        hsffaxrsendcmd(kV21RxMode, 0, 0);
        v.hsxstatus = static_cast<uint16_t>(v.hsxstatus & ~(FAXR_V21_LINEBURST | FAXR_V21_LINEANSWER));  // heard no more
      }
      v.hsxstatus = static_cast<uint16_t>(v.hsxstatus | FAXR_V21_TXBUSY);
      if (hsffaxrsendextcmdasync(m, kV21TxData, piece, bytes)) v.hsxcounter = static_cast<uint16_t>(v.hsxcounter + n);
    }
    at = static_cast<uint16_t>(at + n);
  }
}

// ---- receive ----

namespace {

void report(HSZFAXRLOCLMEM* m, int mode, const uint8_t* octets, int n) { faxrrxhdlcdata(m, mode, octets, n); }

// Passes on whole octets of the frame, keeping back `keepBits` (the possible FCS and flag start).
void passOn(HSZFAXRLOCLMEM* m, uint16_t keepBits) {
  HDLC& h = m->hsxdatahdlc;
  if (h.rxsavednum <= keepBits) return;
  const int octets = (h.rxsavednum - keepBits) / 8;
  if (octets <= 0) return;
  uint8_t out[FAXR_HDLC_RXBYTES];
  std::memcpy(out, h.rxbuf, static_cast<size_t>(octets));
  h.rxfcs = faxrcalculateFCS(h.rxfcs, out, octets);
  // shift the rest to the front
  const int restBits = h.rxsavednum - octets * 8;
  std::memmove(h.rxbuf, h.rxbuf + octets, static_cast<size_t>((restBits + 7) / 8));
  h.rxsavednum = static_cast<uint16_t>(restBits);
  report(m, 1, out, octets);
}

void appendBit(HDLC& h, int bit) {
  const uint16_t n = h.rxsavednum;
  if (n >= FAXR_HDLC_RXBYTES * 8) return;
  uint8_t& o = h.rxbuf[n / 8];
  if (n % 8 == 0) o = 0;
  if (bit) o = static_cast<uint8_t>(o | (0x80 >> (n % 8)));
  h.rxsavednum = static_cast<uint16_t>(n + 1);
  h.rxtotalbits = static_cast<uint16_t>(h.rxtotalbits < 0xFFFF ? h.rxtotalbits + 1 : h.rxtotalbits);
}

void closeFrame(HSZFAXRLOCLMEM* m) {
  HDLC& h = m->hsxdatahdlc;
  // the flag's leading zero and five ones went in as data
  h.rxsavednum = h.rxsavednum >= 6 ? static_cast<uint16_t>(h.rxsavednum - 6) : 0;
  const int n = h.rxsavednum;
  int mode = 3;
  int dataOctets = 0;
  if (n >= 16 && n % 8 == 0) {
    dataOctets = (n - 16) / 8;
    const uint16_t fcs = faxrcalculateFCS(h.rxfcs, h.rxbuf, dataOctets);
    const uint16_t got = static_cast<uint16_t>((h.rxbuf[dataOctets] << 8) | h.rxbuf[dataOctets + 1]);
    mode = static_cast<uint16_t>(~fcs) == got ? 2 : 3;
  } else if (n > 16) {
    dataOctets = (n - 16) / 8;
  }
  uint8_t out[FAXR_HDLC_RXBYTES];
  std::memcpy(out, h.rxbuf, static_cast<size_t>(dataOctets));
  h.rxfcs = 0xFFFF;
  h.rxsavednum = 0;
  h.rxtotalbits = 0;
  h.rxsavedbits = 0;
  h.rxstate = FIND_FRAME_START;
  h.preambledet = false;
  report(m, mode, out, dataOctets);
}

void startFrame(HDLC& h) {
  h.rxstate = FIND_FRAME_END;
  h.rxsavednum = 0;
  h.rxtotalbits = 0;
  h.rxsavedbits = 0;
  h.rxfcs = 0xFFFF;
}

void frameBit(HSZFAXRLOCLMEM* m, int bit) {
  HDLC& h = m->hsxdatahdlc;
  if (bit) {
    ++h.rxsavedbits;
    if (h.rxsavedbits == 6) return;  // a flag or an abort is coming
    if (h.rxsavedbits >= 7) {  // abort: the frame is dropped
      faxrrxframecut(m);
      h.rxstate = FIND_FRAME_START;
      h.rxsavednum = 0;
      h.rxtotalbits = 0;
      h.rxcarryO = 16;
      h.rxfcs = 0xFFFF;
      return;
    }
    appendBit(h, 1);
    return;
  }
  const uint16_t ones = h.rxsavedbits;
  h.rxsavedbits = 0;
  if (ones == 5) return;  // inserted zero
  if (ones == 6) {        // closing flag
    h.rxcarryO = 0;
    closeFrame(m);
    return;
  }
  appendBit(h, 0);
  // keep room: pass on whole octets well before the buffer fills
  if (h.rxsavednum >= (FAXR_HDLC_RXBYTES - 4) * 8) passOn(m, 24);
}

}  // namespace

bool faxrhdlcrxpassedon(const HDLC& h) { return h.rxstate == FIND_FRAME_END && h.rxtotalbits > h.rxsavednum; }

void faxrhdlcprocessrxpkt(HSZFAXRLOCLMEM* m, const uint16_t* block, uint16_t maxWords) {
  HDLC& h = m->hsxdatahdlc;
  if (block == nullptr || maxWords == 0) return;
  uint16_t bits = block[0];
  if (bits > (maxWords - 1) * 16) bits = static_cast<uint16_t>((maxWords - 1) * 16);
  for (uint16_t i = 0; i < bits; ++i) {
    const int bit = (block[1 + i / 16] >> (15 - i % 16)) & 1;
    h.rxcarrybits = static_cast<uint16_t>((h.rxcarrybits << 1) | bit);
    if (h.rxcarryO < 0xFFFF) ++h.rxcarryO;
    const bool flag = (h.rxcarrybits & 0xFF) == 0x7E;
    switch (h.rxstate) {
      case FIND_FIRST_FLAG:
        if (flag) {
          h.rxhdlccnt = h.rxcarryO == 8 ? static_cast<uint16_t>(h.rxhdlccnt + 1) : 1;
          h.rxcarryO = 0;
          if (h.rxhdlccnt >= 5) {
            h.preambledet = true;
            h.rxstate = FIND_FRAME_START;
            report(m, 0, nullptr, 0);
          }
        }
        break;
      case FIND_FRAME_START:
        if (flag) {
          h.rxcarryO = 0;
        } else if (h.rxcarryO == 8) {
          // the first octet that is not a flag starts a frame
          startFrame(h);
          const uint16_t raw = static_cast<uint16_t>(h.rxcarrybits & 0xFF);
          for (int b = 7; b >= 0 && h.rxstate == FIND_FRAME_END; --b) frameBit(m, (raw >> b) & 1);
        } else if (h.rxcarryO > 8) {
          h.rxcarryO = 16;  // out of step with the flags: wait for the next one
        }
        break;
      case FIND_FRAME_END:
        frameBit(m, bit);
        break;
    }
  }
  if (h.rxstate == FIND_FRAME_END) passOn(m, 24);
}

}  // namespace faxr
