// A whole fax call through our fax stack: an independent audio fax terminal on the line side of a
// gateway channel (V.21, fax datapump, fax relay and T.38 services on the real framework, run frame
// by frame), UDPTL datagrams carried by this harness with loss and reordering, and an independent
// T.38 terminal on the network side. Two pages cross in either direction; the received pages must
// equal the sent ones.
#include <gtest/gtest.h>

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "faxr.h"
#include "faxr_call.h"
#include "faxr_gateway_channel.h"
#include "qrn/qrn.h"
#include "t38.h"
#include "t38_dg.h"

namespace {

using faxrchan::command;
using faxrchan::kFrame;
using faxrchan::kVhd;
using faxrchan::runFrame;
using faxcall::Case;
using faxcall::kV17;
using faxcall::kV27;
using faxcall::kV29;
using faxcall::Outcome;

// ---- test pages ----

// Writes a TIFF-F file of `pages` pages, 1728 pels wide, with a pattern that differs per page:
// moving bars (document 0), all black (1) or a sparse chart of axes, grid lines and a curve (2).
void writePages(const std::string& path, int pages, int rows, int document) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> line(1728 / 8);
  for (int p = 0; p < pages; ++p) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 98.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, p, pages);
    for (int r = 0; r < rows; ++r) {
      std::fill(line.begin(), line.end(), 0);
      // bars whose positions move with the row and the page, and a solid band
      for (int x = 0; x < 1728; ++x) {
        const bool bars = ((x + r * (p + 1)) / 24) % 5 == 0 || (r > rows / 2 && r < rows / 2 + 4 && x > 300 + 100 * p);
        const bool chart = (x >= 200 && x < 203) || (r % 30 == 0 && x >= 200 && x < 1600 && x % 8 < 5) ||
                           std::abs(x - (220 + 11 * r + 40 * p)) < 3;
        const bool black = document == 1 || (document == 0 ? bars : chart);
        if (black) line[x / 8] = uint8_t(line[x / 8] | (0x80 >> (x % 8)));
      }
      TIFFWriteScanline(t, line.data(), uint32_t(r), 0);
    }
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// The pages of a TIFF file as rows of pels.
std::vector<std::vector<std::vector<uint8_t>>> readPages(const std::string& path) {
  std::vector<std::vector<std::vector<uint8_t>>> pages;
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (t == nullptr) return pages;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> line(size_t(TIFFScanlineSize(t)));
    for (uint32_t r = 0; r < h; ++r) {
      if (TIFFReadScanline(t, line.data(), r, 0) < 0) break;
      rows.push_back(line);
    }
    pages.push_back(rows);
  } while (TIFFReadDirectory(t));
  TIFFClose(t);
  return pages;
}

// ---- UDPTL of the independent side (built and parsed here) ----

void putLength(std::vector<uint8_t>& d, size_t n) {
  if (n < 128) {
    d.push_back(uint8_t(n));
  } else {
    d.push_back(uint8_t(0x80 | (n >> 8)));
    d.push_back(uint8_t(n));
  }
}

bool getLength(const std::vector<uint8_t>& d, size_t& at, size_t& n) {
  if (at >= d.size()) return false;
  if (d[at] & 0x80) {
    if (at + 1 >= d.size()) return false;
    n = size_t(((d[at] & 0x3F) << 8) | d[at + 1]);
    at += 2;
  } else {
    n = d[at++];
  }
  return at + n <= d.size() || n == 0;
}

// The UDPTL of the independent side, the T.38 terminal's and spandsp's gateway's, written here apart
// from the gateway under test. Its receiver is what a deployed endpoint puts in front of its T.38
// stack, so that the reference is fed as a deployment feeds it: packets go on in number order; a
// datagram that comes early waits a few frames for the ones before it, which a swapped datagram or
// a later one's copies may bring; a gap nothing fills is given up. It does not look into what the
// packets carry, so it cannot tell old datagrams from a peer's new numbering: a few far datagrams
// numbered together are followed, a single one is not.
struct PeerUdptl {
  static constexpr int kAhead = 64;          // numbers ahead of the next one that are held
  static constexpr int kBehind = 64;         // numbers behind it still known as handed on or not
  static constexpr long kWaitFrames = 20;    // how long an early datagram waits for the ones before it
  static constexpr size_t kFollowAfter = 3;  // far datagrams that make a new numbering
  static constexpr int kRunSpread = 16;      // how far apart those may be numbered

  // ---- sending ----
  uint16_t txSeq = 0;
  std::deque<std::vector<uint8_t>> history;  // newest first
  int redundancy = 3;
  std::vector<uint8_t> build(const std::vector<uint8_t>& ifp) {
    std::vector<uint8_t> d{uint8_t(txSeq >> 8), uint8_t(txSeq)};
    putLength(d, ifp.size());
    d.insert(d.end(), ifp.begin(), ifp.end());
    d.push_back(0x00);
    const size_t n = std::min<size_t>(history.size(), size_t(redundancy));
    putLength(d, n);
    for (size_t i = 0; i < n; ++i) {
      putLength(d, history[i].size());
      d.insert(d.end(), history[i].begin(), history[i].end());
    }
    history.push_front(ifp);
    if (history.size() > 8) history.pop_back();
    ++txSeq;
    return d;
  }

  // ---- receiving ----
  struct Datagram {
    uint16_t seq = 0;
    std::vector<uint8_t> primary;
    std::vector<std::vector<uint8_t>> secondaries;  // the packets numbered seq - 1, seq - 2, ...
    long arrived = 0;
  };
  struct Slot {
    std::vector<uint8_t> ifp;
    bool primary = false;  // else a later datagram's copy
    long arrived = 0;
  };
  int32_t rxNext = -1;                   // the next number to hand on
  std::deque<std::optional<Slot>> held;  // held[i] is number rxNext + i; the last is never empty
  std::array<int32_t, 2 * kBehind> handed = filledHanded();  // the last number handed on per residue
  std::vector<Datagram> run;             // far datagrams that may be a new numbering
  long now = 0;                          // frames so far

  static std::array<int32_t, 2 * kBehind> filledHanded() {
    std::array<int32_t, 2 * kBehind> a;
    a.fill(-1);
    return a;
  }
  static bool split(const std::vector<uint8_t>& d, Datagram& g) {
    if (d.size() < 4) return false;
    g.seq = uint16_t((d[0] << 8) | d[1]);
    size_t at = 2, n = 0;
    if (!getLength(d, at, n)) return false;
    g.primary.assign(d.begin() + long(at), d.begin() + long(at + n));
    at += n;
    if (at < d.size() && d[at] == 0x00) {
      ++at;
      size_t count = 0;
      if (!getLength(d, at, count)) return false;
      for (size_t i = 0; i < count; ++i) {
        size_t len = 0;
        if (!getLength(d, at, len)) return false;
        g.secondaries.emplace_back(d.begin() + long(at), d.begin() + long(at + len));
        at += len;
      }
    }
    return true;
  }

  // Takes one datagram and hands `sink` (packet, number) what it completes.
  template <typename Sink>
  bool parse(const std::vector<uint8_t>& d, const Sink& sink) {
    Datagram g;
    if (!split(d, g)) return false;
    g.arrived = now;
    if (rxNext < 0) rxNext = uint16_t(g.seq - g.secondaries.size());  // its copies are the packets before it
    const int ahead = int16_t(g.seq - uint16_t(rxNext));
    if (ahead >= 0 && ahead < kAhead) {
      hold(g);
      release(sink, false);
    } else if (ahead < 0 && ahead >= -kBehind) {
      // late: a number handed on is a duplicate; one given up goes on now, after the packets that
      // passed it (nothing handed on is taken back, and the stack behind decides what is too late)
      if (!wasHanded(g.seq)) hand(g.primary, g.seq, sink);
    } else {
      far(std::move(g), sink);
    }
    return true;
  }
  // A frame has passed: early datagrams that waited long enough go on, the gaps before them given up.
  template <typename Sink>
  void tick(const Sink& sink) {
    ++now;
    release(sink, false);
  }

  bool wasHanded(uint16_t seq) const { return handed[seq % handed.size()] == seq; }
  template <typename Sink>
  void hand(const std::vector<uint8_t>& ifp, uint16_t seq, const Sink& sink) {
    handed[seq % handed.size()] = seq;
    sink(ifp, seq);
  }
  void hold(const Datagram& g) {
    const int ahead = int16_t(g.seq - uint16_t(rxNext));
    put(ahead, g.primary, true, g.arrived);
    for (size_t k = 0; k < g.secondaries.size(); ++k) put(ahead - 1 - int(k), g.secondaries[k], false, g.arrived);
  }
  void put(int at, const std::vector<uint8_t>& ifp, bool primary, long arrived) {
    if (at < 0 || at >= kAhead) return;
    if (held.size() <= size_t(at)) held.resize(size_t(at) + 1);
    std::optional<Slot>& s = held[size_t(at)];
    // the first primary under a number stays (another is a duplicate), and replaces a copy
    if (!s || (primary && !s->primary)) s = Slot{ifp, primary, s ? s->arrived : arrived};
  }
  // Hands on the held packets in order. A gap is given up once the first datagram behind it has
  // waited its frames, or at once with `all`.
  template <typename Sink>
  void release(const Sink& sink, bool all) {
    while (!held.empty()) {
      if (held.front()) {
        hand(held.front()->ifp, uint16_t(rxNext), sink);
      } else {
        const auto first = std::find_if(held.begin(), held.end(), [](const auto& s) { return s.has_value(); });
        if (!all && first != held.end() && now - (*first)->arrived < kWaitFrames) return;
      }
      held.pop_front();
      rxNext = uint16_t(rxNext + 1);
    }
  }
  // A datagram far off the stream: a number with a bit flipped, an old datagram, or the first of a
  // new numbering or of the stream after a long outage. A run of them numbered close together is
  // followed, after what the old numbering still holds.
  template <typename Sink>
  void far(Datagram g, const Sink& sink) {
    if (!run.empty() && std::abs(int(int16_t(g.seq - run.back().seq))) > kRunSpread) run.clear();
    for (const Datagram& r : run)
      if (r.seq == g.seq) return;  // a duplicate is no second datagram
    run.push_back(std::move(g));
    if (run.size() < kFollowAfter) return;
    release(sink, true);
    const uint16_t base = run.front().seq;
    const Datagram& lowest = *std::min_element(run.begin(), run.end(), [&](const Datagram& a, const Datagram& b) {
      return int16_t(a.seq - base) < int16_t(b.seq - base);
    });
    // ahead it may be the same numbering after an outage, and the first one's copies are the
    // packets just before it; behind, the copies repeat what the old numbering handed on
    const bool ahead = int16_t(lowest.seq - uint16_t(rxNext)) > 0;
    rxNext = uint16_t(lowest.seq - (ahead ? lowest.secondaries.size() : 0));
    for (const Datagram& r : run) hold(r);
    run.clear();
    release(sink, false);
  }
};

constexpr int kV17Modems = T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17;

// ---- the channel ----

struct Net {
  std::vector<std::vector<uint8_t>> fromGateway;              // this frame's datagrams out of the T.38 service
  std::deque<std::vector<std::vector<uint8_t>>> toGateway;    // per egress frame
};

struct Line {
  fax_state_t* fax = nullptr;
  std::vector<int16_t> egress;
};

Net gNet;
Line gLine;

void datagramOut(const uint8_t* d, uint16_t length) { gNet.fromGateway.emplace_back(d, d + length); }
void datagramsIn() {
  if (gNet.toGateway.empty()) return;
  for (const auto& d : gNet.toGateway.front()) faxrchan::sendDatagram(d.data(), uint16_t(d.size()));
  gNet.toGateway.pop_front();
}
void lineIn(int16_t* x) {
  if (gLine.fax == nullptr) return;
  const int n = fax_tx(gLine.fax, x, kFrame);
  for (int i = n; i < kFrame; ++i) x[i] = 0;
}
void lineOut(const int16_t* x) {
  if (gLine.fax == nullptr) return;
  std::vector<int16_t> copy(x, x + kFrame);
  fax_rx(gLine.fax, copy.data(), kFrame);
}

std::vector<uint16_t> gHostEvents;

void host(QRN_Handle, QRN_SocketMsg* msg) {
  if (!(msg->msgFlags & QRN_MsgFlagResponse)) gHostEvents.push_back(msg->msg.std.header);
  QRN_FreeSocketMsg(msg);
}

// ---- the call ----

// Every frame a terminal sends, and every frame it accepts (its receiver checked the FCS).
void logFrame(t30_state_t*, void* user, int incoming, const uint8_t msg[], int len) {
  auto* log = static_cast<faxcall::FrameLog*>(user);
  (incoming ? log->accepted : log->sent).emplace_back(msg, msg + len);
  (incoming ? log->acceptedAt : log->sentAt).push_back(log->clock != nullptr ? *log->clock : -1);
}

// Notes what our gateway's receiver played under each number its playout moved past since the frame
// before (`last`: where it stood then), with the call's frame `now`.
void notePlayed(faxcall::Outcome& o, long now, std::optional<uint16_t>& last) {
  QRN_Socket* sock = QRN_FindSocket(kVhd);
  QRN_Service* srv = sock != nullptr ? QRN_FindServiceById(sock, HAPI_T38_SRV) : nullptr;
  if (srv == nullptr || srv->serviceData == nullptr) return;
  const T38ZREORDER& rx = static_cast<T38ZLOCLMEM*>(srv->serviceData)->rx;
  const uint16_t out = rx.lastoutTimeStamp;
  if (!rx.isReorderQInitialized || (last && *last == out)) return;
  // after a restart elsewhere in the numbers, only where it landed
  const bool on = last && static_cast<int16_t>(out - *last) > 0 && static_cast<uint16_t>(out - *last) <= 64;
  for (uint16_t s = on ? static_cast<uint16_t>(*last + 1) : out;; ++s) {
    const int k = s & (T38_NUMBER_SLOTS - 1);
    if (rx.numbers.seq[k] == s && rx.numbers.state[k] == T38_PLAYED) o.gatewayPlayed[s] = {now, rx.numbers.content[k]};
    if (s == out) break;
  }
  last = out;
}

struct Peer {
  t38_terminal_state_t* t38 = nullptr;
  PeerUdptl udptl;
  std::vector<std::vector<uint8_t>> out;  // datagrams to the gateway this frame
  faxcall::IfpRechunker chunks{{}};
  bool ranAway = false;  // it sent more packets in one frame than any call needs
};
constexpr size_t kPeerPacketsPerFrame = 20000;

int peerTx(t38_core_state_t*, void* user, const uint8_t* buf, int len, int) {
  auto* p = static_cast<Peer*>(user);
  // spandsp's T.38 terminal can loop on a packet it sends in one timeout (seen after a peer-side
  // event: tens of millions of 3-octet packets until memory ran out); a refusal ends its loop
  if (p->out.size() >= kPeerPacketsPerFrame) {
    p->ranAway = true;
    return -1;
  }
  for (const auto& ifp : p->chunks.cut(std::vector<uint8_t>(buf, buf + len))) p->out.push_back(p->udptl.build(ifp));
  return 0;
}

void phaseE(t30_state_t*, void* user, int code) { *static_cast<int*>(user) = code; }

// Loss, then our impairment injector's reordering, on one direction of the network.
struct Path {
  std::mt19937 rng;
  int lossPercent;
  bool reorder;
  faxcall::DropPlan plan;
  faxcall::SeqLog* seqs = nullptr;                 // numbers sent and arrived, when kept
  std::vector<std::vector<uint8_t>>* firsts = nullptr;  // the first primary of each number, when kept
  HSZIMPAIR imp{};
  std::map<uintptr_t, std::vector<uint8_t>> held;
  uintptr_t nextId = 1;
  std::vector<std::vector<uint8_t>> delivered;
  int lost = 0, total = 0, reordered = 0;
  int32_t lastSeq = -1;
  faxcall::SeqHop hop;
  int floodAt = -1;
  int burstMean = 0;   // lost datagrams come in runs of this mean length (0: each on its own)
  bool inBurst = false;
  faxcall::StaleInjector stale{{}};
  std::vector<std::vector<uint8_t>> heldBack;  // kept back by a holding drop until it is released
  // ---- a sweep's network and events ----
  std::mt19937 net;  // the draws of the conditions below, apart from the loss's
  long tick = 0;     // frames carried so far
  int stayPercent = 0, duplicatePercent = 0, jitterFrames = 0;
  long blackoutFrom = -1, blackoutFrames = 0;
  bool blackoutDelays = false;
  faxcall::EventInjector events{{}};
  std::multimap<long, std::vector<uint8_t>> later;  // datagrams that arrive in a later frame
  Path(unsigned seed, int loss, bool re, std::vector<faxcall::Drop> drops)
      : rng(seed), lossPercent(loss), reorder(re), plan(std::move(drops)), net(seed * 7919u + 1u) {
    hsfimpairinit(&imp);
    if (reorder) lbsetreorder(&imp, 1);
  }
};
Path* gSinkPath = nullptr;
void impairSink(const HSFMSG* msg) {
  auto it = gSinkPath->held.find(reinterpret_cast<uintptr_t>(msg->ext.bufp));
  if (it == gSinkPath->held.end()) return;
  gSinkPath->delivered.push_back(std::move(it->second));
  gSinkPath->held.erase(it);
}

// Random loss: each datagram on its own, or runs of a mean length that lose the same share.
bool randomLoss(Path& p) {
  if (p.lossPercent <= 0) return false;
  if (p.stayPercent > 0) {  // runs start with lossPercent and go on with stayPercent
    p.inBurst = int(p.rng() % 100) < (p.inBurst ? p.stayPercent : p.lossPercent);
    return p.inBurst;
  }
  if (p.burstMean <= 1) return int(p.rng() % 100) < p.lossPercent;
  if (p.inBurst) {
    p.inBurst = p.rng() % unsigned(p.burstMean) != 0;
    return true;
  }
  // a run starts with the chance that keeps the lost share at lossPercent
  const double start = double(p.lossPercent) / (100.0 * p.burstMean - p.lossPercent * (p.burstMean - 1));
  p.inBurst = double(p.rng() % 100000) < start * 100000.0;
  return p.inBurst;
}

std::vector<std::vector<uint8_t>> carry(Path& p, std::vector<std::vector<uint8_t>> in) {
  if (!p.plan.held()) {  // released: what was held back arrives first, all at once
    for (auto& d : p.heldBack) p.delivered.push_back(std::move(d));
    p.heldBack.clear();
  }
  for (auto& d : in) {
    if (p.hop.at >= 0 && p.total >= p.hop.at) faxcall::moveSequence(d, p.hop.by);
    uint16_t seq = 0;
    std::vector<uint8_t> ifp;
    // what the sender sent, under its own number, before the path's events change it
    if (faxcall::datagramPrimary(d, &seq, &ifp) && p.seqs != nullptr && p.seqs->sent.insert(seq).second && p.firsts != nullptr)
      p.firsts->push_back(ifp);
    std::vector<std::pair<int, std::vector<uint8_t>>> extra;
    const bool gap = p.events.apply(p.tick, d, extra);
    for (auto& [delay, x] : extra) {
      if (delay == 0)
        p.delivered.push_back(std::move(x));
      else
        p.later.emplace(p.tick + delay, std::move(x));
    }
    if (p.total == p.floodAt) p.delivered.push_back(faxcall::manyFieldDatagram(uint16_t((d[0] << 8) | d[1]), 127));
    for (auto& old : p.stale.before(d, p.rng)) p.delivered.push_back(std::move(old));
    ++p.total;
    const bool parsed = faxcall::datagramPrimary(d, &seq, &ifp);
    const bool planned = p.plan.apply(d);
    if (p.plan.replaced()) d = faxcall::withPrimary(d, p.plan.replacement());
    if (p.plan.held()) {
      p.heldBack.push_back(std::move(d));
      continue;
    }
    const bool dark = p.blackoutFrom >= 0 && p.tick >= p.blackoutFrom && p.tick < p.blackoutFrom + p.blackoutFrames;
    if (dark && p.blackoutDelays && !planned && !gap) {  // later datagrams overtake the window's
      p.later.emplace(p.blackoutFrom + p.blackoutFrames + 20 + long(p.net() % 10), std::move(d));
      continue;
    }
    if (planned || randomLoss(p) || dark || gap) {
      ++p.lost;
      continue;
    }
    if (p.plan.hidden() > 0) {  // the sender reuses the numbers of what was lost
      seq = uint16_t(seq - p.plan.hidden());
      d[0] = uint8_t(seq >> 8);
      d[1] = uint8_t(seq);
    }
    if (parsed && p.seqs != nullptr) p.seqs->arrived.insert(seq);
    if (p.duplicatePercent > 0 && int(p.net() % 100) < p.duplicatePercent) p.later.emplace(p.tick + long(p.net() % 3), d);
    if (p.jitterFrames > 0) {
      p.later.emplace(p.tick + long(p.net() % unsigned(p.jitterFrames + 1)), std::move(d));
      continue;
    }
    if (!p.reorder) {
      p.delivered.push_back(std::move(d));
      continue;
    }
    if (p.imp.impairQcount >= std::size(p.imp.impairQ)) {  // its ring is full, and it would not take the newest: let it work first
      gSinkPath = &p;
      hsfimpairblk(&p.imp);
      gSinkPath = nullptr;
    }
    const uintptr_t id = p.nextId++;
    p.held[id] = std::move(d);
    HSFMSG m{};
    m.ext.header = 0x1701;
    m.ext.length = uint16_t(p.held[id].size());
    m.ext.bufp = reinterpret_cast<void*>(id);
    hsfimpairmentinput(&p.imp, &m);
  }
  if (p.reorder) {
    gSinkPath = &p;
    hsfimpairblk(&p.imp);
    hsfimpairtimer(&p.imp);
    gSinkPath = nullptr;
  }
  for (auto it = p.later.begin(); it != p.later.end() && it->first <= p.tick; it = p.later.erase(it))
    p.delivered.push_back(std::move(it->second));
  ++p.tick;
  auto out = std::move(p.delivered);
  p.delivered.clear();
  for (const auto& d : out) {  // datagrams that overtook an earlier one
    const int32_t seq = (d[0] << 8) | d[1];
    if (p.lastSeq >= 0 && int16_t(seq - p.lastSeq) < 0) ++p.reordered;
    p.lastSeq = seq;
  }
  return out;
}

// Lets the reordering hand on what it still holds once the call is over, and says whether every
// datagram it took came out to the receiver (a gateway whose datagrams went nowhere is not fed).
bool reorderDrained(Path& p) {
  if (!p.reorder) return true;
  gSinkPath = &p;
  for (int f = 0; f < 1000 && !p.held.empty(); ++f) {
    hsfimpairtimer(&p.imp);
    hsfimpairblk(&p.imp);
  }
  gSinkPath = nullptr;
  return p.held.empty();
}

// spandsp's own gateway between the same line and network, fed and read frame by frame as the
// channel's hooks feed ours; its datagrams carry `redundancy` secondaries like the peer's.
struct SpandspGateway {
  t38_gateway_state_t* gw = nullptr;
  PeerUdptl udptl;
  static int sent(t38_core_state_t*, void* user, const uint8_t* buf, int len, int count) {
    auto* g = static_cast<SpandspGateway*>(user);
    for (int i = 0; i < std::max(count, 1); ++i) gNet.fromGateway.push_back(g->udptl.build(std::vector<uint8_t>(buf, buf + len)));
    return 0;
  }
  void open(int redundancy) {
    udptl.redundancy = redundancy;
    gw = t38_gateway_init(nullptr, sent, this);
    t38_gateway_set_supported_modems(gw, kV17Modems);
    t38_gateway_set_ecm_capability(gw, 1);
    t38_gateway_set_transmit_on_idle(gw, 1);
    t38_set_t38_version(t38_gateway_get_t38_core_state(gw), 0);
  }
  void frame() {
    int16_t in[kFrame], out[kFrame];
    lineIn(in);
    t38_gateway_rx(gw, in, kFrame);
    const int n = t38_gateway_tx(gw, out, kFrame);
    std::fill(out + std::max(n, 0), out + kFrame, int16_t{0});
    lineOut(out);
    auto toCore = [&](const std::vector<uint8_t>& ifp, uint16_t seq) {
      t38_core_rx_ifp_packet(t38_gateway_get_t38_core_state(gw), ifp.data(), int(ifp.size()), seq);
    };
    if (!gNet.toGateway.empty()) {
      for (const auto& d : gNet.toGateway.front()) udptl.parse(d, toCore);
      gNet.toGateway.pop_front();
    }
    udptl.tick(toCore);
  }
};

}  // namespace

namespace faxcall {

Outcome runCall(const Case& c) {
  Outcome o;
  const std::string base = "/tmp/faxr_call_" + std::to_string(getpid()) + "_" + c.name;
  const std::string txFile = base + "_tx.tif", rxFile = base + "_rx.tif";
  writePages(txFile, 2, 120, c.document);
  std::remove(rxFile.c_str());

  gNet = Net{};
  gLine = Line{};
  gHostEvents.clear();
  SpandspGateway spandsp;
  hsfimpairSetSink(impairSink);  // the reordered datagrams of both directions, whichever gateway
  if (c.spandspGateway) {
    spandsp.open(c.redundancy);
  } else {
    faxrchan::openFaxGateway(host, {datagramOut, nullptr, datagramsIn, lineIn, lineOut});
    command(T38_ENABLE_CMD, 1, 0);
    const int reg = c.gatewayRedundancyReg >= 0 ? c.gatewayRedundancyReg : c.redundancy * 0x101;
    if (reg != 0x0303) command(T38_SETREG1_CMD, 0, uint16_t(reg));
    command(FAXR_ENABLE_CMD, 1, 0);
  }
  long frames = 0;
  auto frame = [&]() {
    ++frames;
    if (c.spandspGateway)
      spandsp.frame();
    else
      runFrame();
  };

  gLine.fax = fax_init(nullptr, c.audioSends);
  fax_set_transmit_on_idle(gLine.fax, 1);
  t30_state_t* audio = fax_get_t30_state(gLine.fax);
  Peer peer;
  peer.udptl.redundancy = c.peerRedundancy >= 0 ? c.peerRedundancy : c.redundancy;
  peer.chunks = faxcall::IfpRechunker(c.peerChunks);
  peer.t38 = t38_terminal_init(nullptr, !c.audioSends, peerTx, &peer);
  t30_state_t* remote = t38_terminal_get_t30_state(peer.t38);
  t38_set_t38_version(t38_terminal_get_t38_core_state(peer.t38), 0);
  for (t30_state_t* t : {audio, remote}) {
    t30_set_supported_modems(t, c.modems);
    t30_set_ecm_capability(t, c.ecm);
    t30_set_supported_compressions(t, T30_SUPPORT_T4_1D_COMPRESSION);
  }
  t30_set_tx_ident(audio, "1111");
  t30_set_tx_ident(remote, "2222");
  t30_state_t* sender = c.audioSends ? audio : remote;
  t30_state_t* receiver = c.audioSends ? remote : audio;
  t30_set_tx_file(sender, txFile.c_str(), -1, -1);
  t30_set_rx_file(receiver, rxFile.c_str(), -1);
  t30_set_phase_e_handler(audio, phaseE, &o.audioStatus);
  t30_set_phase_e_handler(remote, phaseE, &o.t38Status);
  t30_set_real_time_frame_handler(audio, logFrame, &o.audioFrames);
  t30_set_real_time_frame_handler(remote, logFrame, &o.t38Frames);

  Path toPeer(11 + 2 * c.seed, c.lossPercent, c.reorder, c.dropsToPeer), toGateway(23 + 2 * c.seed, c.lossPercent, c.reorder, c.dropsToGateway);
  toPeer.burstMean = toGateway.burstMean = c.lossBurstMean;
  toPeer.seqs = &o.toPeerSeqs;
  toPeer.firsts = &o.gatewayIfps;
  toGateway.hop = c.hopToGateway;
  toGateway.stale = faxcall::StaleInjector(c.staleToGateway);
  toGateway.floodAt = c.floodAt;
  for (Path* p : {&toPeer, &toGateway}) {
    p->stayPercent = c.lossStayPercent;
    p->duplicatePercent = c.duplicatePercent;
    p->jitterFrames = c.jitterFrames;
    p->blackoutFrom = c.blackoutFrom;
    p->blackoutFrames = c.blackoutFrames;
    p->blackoutDelays = c.blackoutDelays;
  }
  toGateway.events = faxcall::EventInjector(c.eventsToGateway);
  toPeer.events = faxcall::EventInjector(c.eventsToPeer);
  faxcall::DropPlan releaseWatch(c.releaseHeldOn);
  // the frame a terminal accepts a frame in, and the one after which datagrams reach the gateway
  long now = 0;
  std::optional<uint16_t> passed;  // where our gateway's playout stood
  o.audioFrames.clock = o.t38Frames.clock = &now;
  for (long f = 0; f < c.frameLimit && (o.audioStatus < 0 || o.t38Status < 0); ++f) {
    now = o.atGateway.now = f;
    frame();
    if (!c.spandspGateway) notePlayed(o, now, passed);
    if (toGateway.plan.held() && !c.releaseHeldOn.empty())
      for (const auto& d : gNet.fromGateway)
        if (releaseWatch.lose(d)) toGateway.plan.release();
    auto toTerminal = [&](const std::vector<uint8_t>& ifp, uint16_t seq) {
      o.toPeerSeqs.delivered.insert(seq);
      o.toT38Terminal.push_back(ifp);
      o.toT38TerminalNumbers.push_back(seq);
      o.toT38TerminalAt.push_back(now);
      t38_core_rx_ifp_packet(t38_terminal_get_t38_core_state(peer.t38), ifp.data(), int(ifp.size()), seq);
    };
    o.gatewayDatagrams.insert(o.gatewayDatagrams.end(), gNet.fromGateway.begin(), gNet.fromGateway.end());
    for (auto& d : carry(toPeer, std::move(gNet.fromGateway))) {
      o.atPeer.take(d);
      peer.udptl.parse(d, toTerminal);
    }
    peer.udptl.tick(toTerminal);
    gNet.fromGateway.clear();
    t38_terminal_send_timeout(peer.t38, kFrame);
    gNet.toGateway.push_back(carry(toGateway, std::move(peer.out)));
    for (const auto& d : gNet.toGateway.back()) o.atGateway.take(d);
    peer.out.clear();
  }
  // let the gateway finish with the last frames, then read whether it saw the fax complete
  for (int f = 0; f < 200; ++f) {
    ++now;
    frame();
  }
  o.audioFrames.clock = o.t38Frames.clock = nullptr;
  if (QRN_Socket* sock = c.spandspGateway ? nullptr : QRN_FindSocket(kVhd))
    if (QRN_Service* srv = QRN_FindServiceById(sock, HAPI_FAXR_SRV))
    {
      o.relayStatus = static_cast<HSZFAXRLOCLMEM*>(srv->serviceData)->hsxstatus;
      o.relayStats = static_cast<HSZFAXRLOCLMEM*>(srv->serviceData)->hsxfaxrStats;
    }
  if (QRN_Socket* sock = QRN_FindSocket(kVhd))
    if (QRN_Service* srv = QRN_FindServiceById(sock, HAPI_T38_SRV)) o.t38Stats = static_cast<T38ZLOCLMEM*>(srv->serviceData)->stats;
  o.frames = frames;
  o.alteredCopies = toGateway.events.altered;
  o.t38Packets = toGateway.events.packets;
  o.alteredCopiesToPeer = toPeer.events.altered;
  o.gatewayPackets = toPeer.events.packets;
  o.hung = o.audioStatus < 0 || o.t38Status < 0;
  t30_get_transfer_statistics(sender, &o.sender);
  t30_get_transfer_statistics(receiver, &o.receiver);
  std::printf("[ call %s ] frames %ld, audio status %d, T.38 status %d, pages sent %d received %d, rate %d, ECM %d, "
              "datagrams lost %d of %d and %d of %d, reordered %d and %d, events fired %d of %zu and %d of %zu%s\n",
              c.name, frames, o.audioStatus, o.t38Status, o.sender.pages_tx, o.receiver.pages_rx, o.receiver.bit_rate,
              o.receiver.error_correcting_mode, toPeer.lost, toPeer.total, toGateway.lost, toGateway.total, toPeer.reordered, toGateway.reordered,
              toPeer.events.fired(), c.eventsToPeer.size(), toGateway.events.fired(), c.eventsToGateway.size(),
              peer.ranAway ? ", the T.38 terminal looped sending and was refused" : "");
  t38_terminal_free(peer.t38);
  fax_free(gLine.fax);
  gLine.fax = nullptr;
  for (Path* p : {&toPeer, &toGateway}) EXPECT_TRUE(reorderDrained(*p)) << c.name << ": datagrams the reordering took never arrived";
  hsfimpairSetSink(nullptr);
  if (c.spandspGateway)
    t38_gateway_free(spandsp.gw);
  else
    faxrchan::closeChannel();
  o.sent = readPages(txFile);
  o.received = readPages(rxFile);
  std::remove(txFile.c_str());
  std::remove(rxFile.c_str());
  return o;
}

}  // namespace faxcall

namespace {

using faxcall::runCall;

void expectWholeFax(const Case& c, int bitRate) {
  const Outcome o = runCall(c);
  EXPECT_EQ(o.audioStatus, T30_ERR_OK) << t30_completion_code_to_str(o.audioStatus);
  EXPECT_EQ(o.t38Status, T30_ERR_OK) << t30_completion_code_to_str(o.t38Status);
  EXPECT_EQ(o.receiver.pages_rx, 2);
  EXPECT_EQ(o.receiver.bit_rate, bitRate);
  EXPECT_EQ(o.receiver.error_correcting_mode != 0, c.ecm);
  ASSERT_EQ(o.sent.size(), 2u);
  ASSERT_EQ(o.received.size(), 2u);
  for (size_t p = 0; p < 2; ++p) EXPECT_TRUE(o.sent[p] == o.received[p]) << "page " << p + 1 << " differs";
  EXPECT_EQ(o.relayStatus & FAXR_COMPLETED, FAXR_COMPLETED) << "status 0x" << std::hex << o.relayStatus;
}

// Each modem set a call may use, by the tag names of calls give it.
const struct {
  const char* tag;
  int modems;
} kRates[] = {{"v17", kV17}, {"v29", kV29}, {"v27", kV27}};

struct Params {
  const char* name;
  int modems;
  int bitRate;
  bool ecm;
  bool audioSends;
  bool impaired;  // 5 % loss and reordering in both directions
};

class FaxCallCase : public ::testing::TestWithParam<Params> {};

TEST_P(FaxCallCase, TwoPagesArriveEqual) {
  const Params& p = GetParam();
  expectWholeFax({p.name, p.modems, p.ecm, p.audioSends, p.impaired ? 5 : 0, p.impaired}, p.bitRate);
}

std::vector<Params> allCases() {
  std::vector<Params> v;
  const struct {
    const char* tag;
    int modems;
    int rate;
  } rates[] = {{"v17", kV17, 14400}, {"v29", kV29, 9600}, {"v27", kV27, 4800}};
  for (const auto& r : rates)
    for (bool impaired : {false, true})
      for (bool ecm : {false, true})
        for (bool audioSends : {true, false}) {
          static std::vector<std::string> names;
          names.push_back(std::string(r.tag) + (ecm ? "_ecm" : "_nonecm") + (audioSends ? "_audio_to_t38" : "_t38_to_audio") +
                          (impaired ? "_loss5_reorder" : ""));
          v.push_back({names.back().c_str(), r.modems, r.rate, ecm, audioSends, impaired});
        }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaxCallCase, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Params>& i) { return std::string(i.param.name); });

// ---- the independent side's receiver ----

// The receiver that feeds the T.38 terminal and spandsp's gateway hands on what the path delivered,
// in order: swapped datagrams, lost ones a copy carries, a gap given up after its wait and then a
// late datagram under a number never handed on; no duplicate; a single far datagram is not
// followed, a new numbering is after a few (back: without the copies of the old numbering's
// packets; ahead after an outage: with them).
TEST(PeerUdptl, HandsOnInOrderRecoversFromCopiesAndFollowsARunButNotAStray) {
  PeerUdptl tx;
  tx.redundancy = 1;
  std::vector<std::vector<uint8_t>> dg;  // the packet of datagram i is the octet i
  auto send = [&](int n) {
    for (int i = 0; i < n; ++i) dg.push_back(tx.build({uint8_t(dg.size())}));
  };
  tx.txSeq = 65530;  // across the wrap
  send(20);
  tx.txSeq = uint16_t(tx.txSeq - 3000);  // the peer renumbers 3,000 back
  send(80);
  PeerUdptl rx;
  std::vector<int> got;
  const auto sink = [&](const std::vector<uint8_t>& ifp, uint16_t) { got.push_back(ifp[0]); };
  auto feed = [&](std::initializer_list<int> which) {
    for (int i : which) rx.parse(dg[size_t(i)], sink);
  };
  auto with = [](std::vector<int> v, int from, int to) {  // v, then from to `to`
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
  };
  feed({0, 2, 1, 1, 4});  // 3 lost: 4 carries its copy
  EXPECT_EQ(got, with({}, 0, 4));
  feed({7});  // 5 and 6 lost, 7 carries a copy of 6
  for (long f = 1; f < PeerUdptl::kWaitFrames; ++f) rx.tick(sink);
  EXPECT_EQ(got, with({}, 0, 4)) << "the gap was given up before its wait";
  rx.tick(sink);
  EXPECT_EQ(got, with({0, 1, 2, 3, 4}, 6, 7));
  feed({5, 7, 6});
  const std::vector<int> before = {0, 1, 2, 3, 4, 6, 7, 5};
  EXPECT_EQ(got, before) << "5, never handed on, goes late; 7 and 6 are duplicates";
  std::vector<uint8_t> flipped = dg[9];
  flipped[0] ^= 0x10;
  rx.parse(flipped, sink);
  feed({8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21});
  EXPECT_EQ(got, with(before, 8, 19)) << "a single far datagram was followed, or the new numbering after two";
  feed({22});
  EXPECT_EQ(got, with(before, 8, 22));
  feed({95, 96, 97});  // an outage took 23-94, beyond the numbers held ahead
  EXPECT_EQ(got, with(with(before, 8, 22), 94, 97));
}

// ---- the same calls through our gateway and through spandsp's ----

// One call of a matrix, run through both gateways.
struct MatrixCell {
  std::string name;
  Case c;
};

// What a matrix's calls came to, by gateway (ours, spandsp's) and direction (T.38 to audio, audio
// to T.38): calls completed with the pages sent, frames accepted that were never sent, accepted
// ECM pages other than the page sent. The calls in which ours forged a frame or accepted a wrong
// page are listed by name.
struct MatrixTally {
  int calls = 0, completed = 0, forged = 0, wrongPages = 0;
};
struct MatrixResult {
  MatrixTally tally[2][2];  // [spandsp's gateway][audio terminal sends]
  std::string onlyOne;      // calls only one gateway completed
  std::vector<std::string> oursForged;  // cells in which ours forged a frame or accepted a wrong page
};

MatrixResult runMatrix(const std::vector<MatrixCell>& cells) {
  MatrixResult m;
  for (const MatrixCell& cell : cells) {
    bool done[2] = {};
    int forged[2] = {}, wrong[2] = {};
    for (bool spandsp : {false, true}) {
      const std::string name = cell.name + (spandsp ? "_spandsp" : "_ours");
      Case c = cell.c;
      c.name = name.c_str();
      c.spandspGateway = spandsp;
      const faxcall::Verdict v = faxcall::judge(c, runCall(c));
      done[spandsp] = v.completed;
      forged[spandsp] = v.forged;
      wrong[spandsp] = v.wrongPages;
      for (const auto& f : v.fakes) std::printf("[ forged %s ] %s\n", name.c_str(), f.c_str());
    }
    for (bool spandsp : {false, true}) {
      MatrixTally& t = m.tally[spandsp][cell.c.audioSends];
      ++t.calls;
      t.completed += done[spandsp];
      t.forged += forged[spandsp];
      t.wrongPages += wrong[spandsp];
    }
    if (done[0] != done[1]) m.onlyOne += "  " + cell.name + ": " + (done[0] ? "only ours" : "only spandsp's") + "\n";
    if (forged[0] || wrong[0]) {
      m.oursForged.push_back(cell.name);
      m.onlyOne += "  " + cell.name + ": ours forged " + std::to_string(forged[0]) + ", wrong pages " + std::to_string(wrong[0]) +
                   (forged[1] || wrong[1] ? " (spandsp's too)\n" : "\n");
    }
  }
  return m;
}

void printMatrix(const std::string& title, const MatrixResult& m) {
  std::printf("[ matrix %s ] completed calls      ours        spandsp's\n", title.c_str());
  for (bool audioSends : {true, false}) {
    const MatrixTally& ours = m.tally[0][audioSends];
    const MatrixTally& theirs = m.tally[1][audioSends];
    std::printf("[ matrix %s ] %-20s %3d of %3d   %3d of %3d   (forged %d / %d, wrong ECM pages %d / %d)\n", title.c_str(),
                audioSends ? "audio to T.38" : "T.38 to audio", ours.completed, ours.calls, theirs.completed, theirs.calls,
                ours.forged, theirs.forged, ours.wrongPages, theirs.wrongPages);
  }
  std::printf("[ matrix %s ] calls where the gateways differ:\n%s", title.c_str(), m.onlyOne.c_str());
}

const char* directionName(bool audioSends) { return audioSends ? "audio to T.38" : "T.38 to audio"; }

// The same impaired calls through our gateway and through spandsp's: random loss of 1 to 10 % and
// loss in runs, redundancy 0, 1 and 3, every modem, ECM on and off, both directions, a seed per
// call. Ours completes at least as many calls as spandsp's in each direction, and no terminal
// ever accepts a frame the other did not send, nor an ECM page other than the one sent.
TEST(FaxCallLossMatrix, OursCompletesAsManyAsSpandspsGatewayAndForgesNothing) {
  const struct {
    int percent, burstMean;
  } losses[] = {{1, 0}, {3, 0}, {5, 0}, {10, 0}, {5, 4}};
  const int redundancies[] = {0, 1, 3};
  std::vector<MatrixCell> cells;
  unsigned index = 0;
  for (const auto& r : kRates)
    for (bool ecm : {false, true})
      for (bool audioSends : {true, false})
        for (const auto& loss : losses) {
          const int redundancy = redundancies[index % 3];
          char cell[96];
          std::snprintf(cell, sizeof(cell), "%s_%s_%s_loss%d%s_red%d", r.tag, ecm ? "ecm" : "nonecm",
                        audioSends ? "audio_to_t38" : "t38_to_audio", loss.percent, loss.burstMean ? "_runs" : "",
                        redundancy);
          Case c{nullptr, r.modems, ecm, audioSends, loss.percent, false};
          c.redundancy = redundancy;
          c.seed = index;
          c.lossBurstMean = loss.burstMean;
          cells.push_back({cell, c});
          ++index;
        }
  const MatrixResult m = runMatrix(cells);
  printMatrix("loss", m);
  for (bool audioSends : {true, false}) {
    EXPECT_GE(m.tally[0][audioSends].completed, m.tally[1][audioSends].completed)
        << directionName(audioSends) << ": fewer calls complete through ours";
    EXPECT_EQ(m.tally[0][audioSends].forged, 0) << "frames accepted that were never sent";
    EXPECT_EQ(m.tally[0][audioSends].wrongPages, 0) << "accepted ECM pages that differ from the pages sent";
  }
}

// Stale and malformed datagrams towards the gateway: the sweep (faxr_call_sweep.cpp) draws them.

}  // namespace

// ---- calls that lose datagrams for good ----

// Whatever the loss costs, what reaches a terminal is never a frame the other did not send, an
// accepted ECM page is the page sent, the far end gets back every datagram the redundancy still
// covers, and no ECM frame is left open at the end of the page data.
void expectLossHandledSoundly(const Case& c, unsigned minBadFramesToLine) {
  const Outcome o = runCall(c);
  const auto forgedToAudio = faxcall::forgedFrames(o.t38Frames, o.audioFrames);
  const auto forgedToT38 = faxcall::forgedFrames(o.audioFrames, o.t38Frames);
  for (const auto& f : forgedToAudio) ADD_FAILURE() << "the audio terminal accepted a frame never sent: " << f;
  for (const auto& f : forgedToT38) ADD_FAILURE() << "the T.38 terminal accepted a frame never sent: " << f;
  if (c.ecm) {
    ASSERT_LE(o.received.size(), o.sent.size());
    for (size_t p = 0; p < o.received.size(); ++p)
      EXPECT_TRUE(o.sent[p] == o.received[p]) << "accepted ECM page " << p + 1 << " differs from the page sent";
  }
  for (uint16_t s : faxcall::unrecoveredWithinRedundancy(o.toPeerSeqs, c.redundancy))
    ADD_FAILURE() << "datagram " << s << " was lost although a later one that arrived should have carried it";
  EXPECT_EQ(faxcall::unclosedHdlcFrames(o.gatewayIfps), 0) << "ECM frames left open at a signal end";
  EXPECT_GE(o.relayStats.egress.hsxbadframeCount, minBadFramesToLine) << "frames played with a bad FCS, in the statistics";
  std::printf("[ loss %s ] status %d/%d, pages %d, frames accepted %zu/%zu, bad frames to the line %u\n", c.name,
              o.audioStatus, o.t38Status, o.receiver.pages_rx, o.audioFrames.accepted.size(), o.t38Frames.accepted.size(),
              unsigned(o.relayStats.egress.hsxbadframeCount));
}

struct LossParams {
  std::string name;
  int modems;
  bool ecm;
  bool audioSends;
  std::vector<faxcall::Drop> toPeer, toGateway;
  unsigned minBadFramesToLine = 0;  // frames the loss must have made the relay play with a bad FCS
  bool completes = false;           // the terminals' repeats make up for the loss: the call completes
  int redundancy = 3;
};
void PrintTo(const LossParams& p, std::ostream* os) { *os << p.name; }

class FaxCallLoss : public ::testing::TestWithParam<LossParams> {};

TEST_P(FaxCallLoss, NoForgedFramesNoLostRedundancy) {
  const LossParams& p = GetParam();
  Case c{p.name.c_str(), p.modems, p.ecm, p.audioSends, 0, false, p.toPeer, p.toGateway};
  c.redundancy = p.redundancy;
  if (p.completes) {
    const int rates[] = {p.modems == kV17 ? 14400 : p.modems == kV29 ? 9600 : 4800};
    expectWholeFax(c, rates[0]);
  }
  expectLossHandledSoundly(c, p.minBadFramesToLine);
}

std::vector<LossParams> lossCases() {
  using faxcall::Drop;
  using faxcall::DropOn;
  std::vector<LossParams> v;
  // bursts of 3 to 8 datagrams spread over a call, in both directions
  const std::vector<Drop> burstsA = {{DropOn::kAny, 12, 3},  {DropOn::kAny, 40, 5},  {DropOn::kAny, 75, 8},
                                     {DropOn::kAny, 110, 4}, {DropOn::kAny, 160, 6}, {DropOn::kAny, 215, 7},
                                     {DropOn::kAny, 290, 3}, {DropOn::kAny, 370, 8}, {DropOn::kAny, 450, 5}};
  const std::vector<Drop> burstsB = {{DropOn::kAny, 20, 4},  {DropOn::kAny, 52, 8},  {DropOn::kAny, 90, 3},
                                     {DropOn::kAny, 130, 7}, {DropOn::kAny, 190, 5}, {DropOn::kAny, 250, 6},
                                     {DropOn::kAny, 330, 4}, {DropOn::kAny, 410, 8}};
  for (const auto& r : kRates) {
    const std::string t = r.tag;
    // four datagrams of a CSI towards the gateway, one of them beyond the redundancy
    v.push_back({t + "_csi_to_gateway", r.modems, false, true, {}, {{DropOn::kV21FrameFcf, 3, 4, 0x02}}, 1});
    // four datagrams in the middle of the first ECM page towards the audio terminal
    v.push_back({t + "_ecm_page_to_audio", r.modems, true, false, {}, {{DropOn::kEcmData, 20, 4}}, 1});
    // the first MCF from the line (CSI, DIS, CFR, MCF) arrives without its control octet, and no
    // copy makes up for it: the sender repeats its MPS, and the relay must pass the line's answer
    // to that repeat
    for (bool ecm : {false, true})
      v.push_back({t + (ecm ? "_ecm" : "_nonecm") + "_first_mcf_lost", r.modems, ecm, false,
                   {{DropOn::kV21Control, 3, 1}}, {}, 0, true, 0});
    // every octet of the T.38 sender's TSI and DCS from their FCF on, with no copy to make up for
    // it, while its training check arrives: the gateway still relays the CSI and DIS the audio
    // terminal repeats, and the call completes. (At V.17 without ECM that repeat reaches the T.38
    // terminal while it still sends its training check, which it answers with a DCN.)
    for (bool ecm : {false, true})
      if (ecm || r.modems != kV17)
        v.push_back({t + (ecm ? "_ecm" : "_nonecm") + "_tcf_without_dcs", r.modems, ecm, false, {},
                     {{DropOn::kV21FrameFcf, 0, 21, 0x42}, {DropOn::kV21FrameFcf, 0, 4, 0x41}}, 0, true, 0});
    // a no-signal in place of the page data of a datagram in the middle of an ECM frame: without
    // copies the frame ends bad; with them the copies the next datagrams carry put the data back
    v.push_back({t + "_ecm_indicator_in_frame", r.modems, true, false, {},
                 {{.on = DropOn::kEcmData, .skip = 21, .burst = 1, .toIndicator = true}}, 1, false, 0});
    v.push_back({t + "_ecm_indicator_in_frame_red3", r.modems, true, false, {},
                 {{.on = DropOn::kEcmData, .skip = 21, .burst = 1, .toIndicator = true}}, 0, true});
    // the end of an ECM frame lost with no gap in the numbers: the frame runs into the next one
    v.push_back({t + "_ecm_frame_end_lost_unnumbered", r.modems, true, false, {},
                 {{.on = DropOn::kEcmFrameEnd, .skip = 5, .burst = 1, .hideGap = true}}, 1});
    // a signal end and the three datagrams behind it, in both directions
    v.push_back({t + "_signal_end", r.modems, true, true, {{DropOn::kSignalEnd, 1, 4}}, {{DropOn::kSignalEnd, 1, 4}}});
    for (bool ecm : {false, true})
      for (bool audioSends : {true, false})
        v.push_back({t + (ecm ? "_ecm" : "_nonecm") + (audioSends ? "_audio_to_t38" : "_t38_to_audio") + "_bursts", r.modems,
                     ecm, audioSends, burstsA, burstsB});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Bursts, FaxCallLoss, ::testing::ValuesIn(lossCases()),
                         [](const ::testing::TestParamInfo<LossParams>& i) { return i.param.name; });

// ---- peers that number, type and pack their datagrams otherwise ----

namespace {

// Output lines of the assertion hook while it lives.
class AssertLines {
 public:
  AssertLines() { testing::internal::CaptureStdout(); }
  int stop() {
    const std::string out = testing::internal::GetCapturedStdout();
    std::fputs(out.c_str(), stdout);
    int n = 0;
    for (size_t at = 0; (at = out.find("LHAPI: Assert in file", at)) != std::string::npos; ++at) ++n;
    return n;
  }
};

struct PeerParams {
  std::string name;
  int modems;
  bool ecm;
  bool audioSends;
  faxcall::SeqHop hop = {};
  std::vector<faxcall::Drop> toPeer = {}, toGateway = {};
  int floodAt = -1;
  uint16_t redundancy = 0x0303;
  int peerRedundancy = 3;
  uint16_t minRefused = 0;   // datagrams refused by the window, counted
  uint16_t minInvalid = 0;   // IFP packets refused as malformed or of no known type, counted
  bool sameAsUnmoved = false;  // the call goes as it goes with the numbering starting at 0
  faxcall::Stale stale = {};   // old datagrams besides the stream
  faxcall::Rechunk chunks = {};  // the T.38 terminal's data in packets of its own sizes
  bool noRelayOverruns = false;  // the relay drops no page data for want of room or of a modem
};
void PrintTo(const PeerParams& p, std::ostream* os) { *os << p.name; }

class FaxCallPeer : public ::testing::TestWithParam<PeerParams> {};

// The call completes with both pages equal, no terminal accepts a frame never sent, and nothing
// the network sent makes the gateway assert; what it refused is counted.
TEST_P(FaxCallPeer, CompletesWithoutForgedFramesOrAssertions) {
  const PeerParams& p = GetParam();
  Case c{p.name.c_str(), p.modems, p.ecm, p.audioSends, 0, false, p.toPeer, p.toGateway};
  c.hopToGateway = p.hop;
  c.floodAt = p.floodAt;
  c.gatewayRedundancyReg = p.redundancy;
  c.peerRedundancy = p.peerRedundancy;
  c.staleToGateway = p.stale;
  c.peerChunks = p.chunks;
  AssertLines asserts;
  const Outcome o = runCall(c);
  EXPECT_EQ(asserts.stop(), 0) << "assertions logged during the call";
  EXPECT_EQ(o.audioStatus, T30_ERR_OK) << t30_completion_code_to_str(o.audioStatus);
  EXPECT_EQ(o.t38Status, T30_ERR_OK) << t30_completion_code_to_str(o.t38Status);
  ASSERT_EQ(o.received.size(), 2u);
  for (size_t pg = 0; pg < 2; ++pg) EXPECT_TRUE(o.sent[pg] == o.received[pg]) << "page " << pg + 1 << " differs";
  for (const auto& f : faxcall::forgedFrames(o.t38Frames, o.audioFrames)) ADD_FAILURE() << "the audio terminal accepted " << f;
  for (const auto& f : faxcall::forgedFrames(o.audioFrames, o.t38Frames)) ADD_FAILURE() << "the T.38 terminal accepted " << f;
  if (p.noRelayOverruns) {
    EXPECT_EQ(o.relayStats.egress.hsxOverrunCount, 0u) << "page data dropped for want of room or of a modem";
  }
  EXPECT_GE(o.t38Stats.egress.failtoReorderCount, p.minRefused);
  EXPECT_GE(o.t38Stats.egress.invalidIFPCount, p.minInvalid);
  if (p.sameAsUnmoved) {
    Case unmoved = c;
    unmoved.hopToGateway = {};
    EXPECT_EQ(o.frames, runCall(unmoved).frames) << "the first datagrams were not taken as they came";
  }
  std::printf("[ peer %s ] frames %ld, refused %u, invalid %u, pool dry %u\n", p.name.c_str(), o.frames,
              unsigned(o.t38Stats.egress.failtoReorderCount), unsigned(o.t38Stats.egress.invalidIFPCount),
              unsigned(o.t38Stats.egress.bufferPoolDry));
}

std::vector<PeerParams> peerCases() {
  using faxcall::Drop;
  using faxcall::DropOn;
  std::vector<PeerParams> v;
  // renumbering mid-call, forwards and backwards: the gateway follows the new numbers
  v.push_back({"v17_ecm_t38_to_audio_hop600", kV17, true, false, {30, 600}, {}, {}, -1, 0x0303, 3, 2});
  v.push_back({"v29_nonecm_audio_to_t38_hop30000", kV29, false, true, {20, 30000}, {}, {}, -1, 0x0303, 3, 2});
  v.push_back({"v27_ecm_audio_to_t38_hop_back3000", kV27, true, true, {25, uint16_t(-3000)}, {}, {}, -1, 0x0303, 3, 2});
  v.push_back({"v29_nonecm_t38_to_audio_hop_back3000", kV29, false, false, {200, uint16_t(-3000)}, {}, {}, -1, 0x0303, 3, 2});
  // renumbering back by fewer numbers than a late copy may be behind: the new content under numbers
  // already played shows the new sequence
  v.push_back({"v17_ecm_t38_to_audio_hop_back30", kV17, true, false, {200, uint16_t(-30)}, {}, {}, -1, 0x0303, 3, 2});
  // a first number far from 0
  PeerParams first{"v29_ecm_audio_to_t38_first1000", kV29, true, true, {0, 1000}};
  first.sameAsUnmoved = true;
  v.push_back(first);
  first = {"v17_nonecm_audio_to_t38_first40000", kV17, false, true, {0, 40000}};
  first.sameAsUnmoved = true;
  v.push_back(first);
  // data types no fax mode has, in place of the real one: refused, and the copy that follows in
  // the next datagram plays; without copies the frame under way is lost
  for (int type : {9, 15}) {
    const std::string t = std::to_string(type);
    v.push_back({"v17_ecm_t38_to_audio_pps_type" + t, kV17, true, false, {}, {}, {{DropOn::kV21FrameFcf, 2, 1, 0x7D, type}}, -1, 0x0303, 3, 0, 1});
    v.push_back({"v29_ecm_t38_to_audio_data_type" + t, kV29, true, false, {}, {}, {{DropOn::kEcmData, 30, 1, 0, type}}, -1, 0x0303, 0, 0, 1});
  }
  v.push_back({"v27_nonecm_t38_to_audio_dcs_type12", kV27, false, false, {}, {}, {{DropOn::kV21FrameFcf, 1, 1, 0x41, 12}}, -1, 0x0303, 0, 0, 1});
  // without copies the preamble indicator of the T.38 sender's DCN is lost: the DCN still reaches
  // the line, and the audio terminal ends
  v.push_back({"v29_ecm_t38_to_audio_red0_dcn_preamble_lost", kV29, true, false, {}, {}, {{DropOn::kV21Preamble, 3, 1}}, -1, 0, 0});
  // no redundancy from the gateway: indicators, signal ends and no-signals still go three times
  v.push_back({"v17_ecm_audio_to_t38_red0_signal_end", kV17, true, true, {}, {{DropOn::kSignalEnd, 1, 1}}, {}, -1, 0});
  v.push_back({"v29_nonecm_audio_to_t38_red0_signal_end", kV29, false, true, {}, {{DropOn::kSignalEnd, 4, 1}}, {}, -1, 0});
  v.push_back({"v27_ecm_t38_to_audio_red0_signal_end", kV27, true, false, {}, {{DropOn::kSignalEnd, 1, 1}}, {}, -1, 0});
  // one datagram of 127 fields: refused and counted, no assertion, the call goes on
  v.push_back({"v29_ecm_t38_to_audio_127_fields", kV29, true, false, {}, {}, {}, 60, 0x0303, 3, 0, 1});
  v.push_back({"v17_nonecm_audio_to_t38_127_fields", kV17, false, true, {}, {}, {}, 12, 0x0303, 3, 0, 1});
  // late bursts of old datagrams, 70 to 300 numbers behind, arriving together: late copies,
  // never a new sequence
  auto withStale = [&](PeerParams p, faxcall::Stale st) {
    p.stale = st;
    v.push_back(p);
  };
  withStale({"v17_ecm_t38_to_audio_late_bursts", kV17, true, false, {}, {}, {}, -1, 0x0303, 3, 4},
            {.lateAt = 150, .lateEvery = 40, .lateCount = 4, .lateBehind = 120});
  withStale({"v29_nonecm_t38_to_audio_late_bursts_red0", kV29, false, false, {}, {}, {}, -1, 0, 0, 6},
            {.lateAt = 320, .lateEvery = 30, .lateCount = 6, .lateBehind = 300});
  withStale({"v27_ecm_audio_to_t38_late_bursts", kV27, true, true, {}, {}, {}, -1, 0x0303, 3, 3},
            {.lateAt = 45, .lateEvery = 5, .lateCount = 3, .lateBehind = 40});
  // copies of old datagrams numbered 150 or 319 ahead of the stream: the stream's own packets play
  withStale({"v17_ecm_t38_to_audio_ahead150", kV17, true, false, {}, {}, {}, -1, 0x0303, 3},
            {.aheadAt = 200, .aheadEvery = 7, .aheadCount = 1, .aheadFrom = 120, .aheadBy = 150});
  withStale({"v27_ecm_t38_to_audio_ahead319_red0", kV27, true, false, {}, {}, {}, -1, 0, 0},
            {.aheadAt = 120, .aheadEvery = 5, .aheadCount = 2, .aheadFrom = 100, .aheadBy = 319});
  // one bit of the number flipped in 5 % of the datagrams
  withStale({"v17_ecm_t38_to_audio_flips5", kV17, true, false, {}, {}, {}, -1, 0x0303, 3}, {.flipPercent = 5});
  withStale({"v29_nonecm_t38_to_audio_flips5", kV29, false, false, {}, {}, {}, -1, 0x0303, 3}, {.flipPercent = 5});
  // the one datagram that carries page 2's training indicator is lost (no copies): the page data
  // starts the page, and none of it is dropped for want of a modem
  for (auto [name, modems] : {std::pair{"v17", kV17}, {"v29", kV29}, {"v27", kV27}}) {
    PeerParams p{std::string(name) + "_ecm_t38_to_audio_red0_page2_training_lost", modems, true, false, {}, {}, {{DropOn::kTraining, 2, 1}}, -1, 0, 0};
    p.noRelayOverruns = true;
    v.push_back(p);
  }
  // a peer that cuts its frames and page data into IFP packets longer than the terminal's, 92 to
  // 405 octets (a data field longer than the relay's own packets, a packet longer than a one-octet
  // length): a well-formed packet is taken whatever its fields' lengths, and its datagrams (with
  // three copies, over 1,600 octets) are carried whole
  auto chunked = [&](PeerParams p, faxcall::Rechunk r) {
    p.chunks = r;
    v.push_back(p);
  };
  chunked({"v17_ecm_t38_to_audio_long_ifps", kV17, true, false}, {87, 400, 1});
  chunked({"v29_nonecm_t38_to_audio_long_ifps", kV29, false, false}, {87, 400, 2});
  chunked({"v27_ecm_t38_to_audio_long_ifps", kV27, true, false}, {87, 400, 6});
  // a peer that sends its data an octet to a packet: the receiver's pool does not run dry, and the
  // pages go through
  chunked({"v17_ecm_t38_to_audio_octet_ifps", kV17, true, false}, {1, 1, 3});
  chunked({"v29_nonecm_t38_to_audio_octet_ifps", kV29, false, false}, {1, 1, 5});
  chunked({"v27_ecm_t38_to_audio_octet_ifps", kV27, true, false}, {1, 1, 3});
  // the answer to page 1 loses its end (four datagrams from its FCF on): the relay ends it bad once
  // the network's delay allowance is out, not holding the line, and the sender repeats its command
  for (auto [name, modems] : {std::pair{"v17", kV17}, {"v29", kV29}, {"v27", kV27}})
    for (bool ecm : {true, false})
      v.push_back({std::string(name) + (ecm ? "_ecm" : "_nonecm") + "_audio_to_t38_mcf_tail_lost", modems, ecm, true, {}, {},
                   {{DropOn::kV21FrameFcf, 0, 4, 0x31}}, -1, 0x0303, 3});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Peers, FaxCallPeer, ::testing::ValuesIn(peerCases()),
                         [](const ::testing::TestParamInfo<PeerParams>& i) { return i.param.name; });

}  // namespace

// ---- frames cut short: a line frame the relay stops following, a signal inside a network frame ----

namespace {

struct CutParams {
  std::string name;
  int modems;
  bool ecm;
  bool audioSends;
  std::vector<faxcall::Drop> toGateway;
  std::vector<faxcall::Drop> releaseOn = {};  // what releases datagrams a holding drop keeps back
  bool completes = false;                     // the terminals' repeats make up for the cut
};
void PrintTo(const CutParams& p, std::ostream* os) { *os << p.name; }

class FaxCallCutFrame : public ::testing::TestWithParam<CutParams> {};

// However a frame is cut, no terminal accepts a frame the other did not send whole, every V.21 or
// ECM frame the gateway starts towards the network is closed there, an accepted ECM page is the
// page sent, and where the terminals' repeats make up for the cut the call completes.
TEST_P(FaxCallCutFrame, NoFrameEndsGoodThatWasNotSentWhole) {
  const CutParams& p = GetParam();
  Case c{p.name.c_str(), p.modems, p.ecm, p.audioSends, 0, false, {}, p.toGateway};
  c.releaseHeldOn = p.releaseOn;
  const Outcome o = runCall(c);
  for (const auto& f : faxcall::forgedFrames(o.t38Frames, o.audioFrames)) ADD_FAILURE() << "the audio terminal accepted " << f;
  for (const auto& f : faxcall::forgedFrames(o.audioFrames, o.t38Frames)) ADD_FAILURE() << "the T.38 terminal accepted " << f;
  EXPECT_EQ(faxcall::unclosedV21Frames(o.gatewayIfps), 0) << "V.21 frames left open towards the network";
  EXPECT_EQ(faxcall::unclosedHdlcFrames(o.gatewayIfps), 0) << "ECM frames left open towards the network";
  ASSERT_LE(o.received.size(), o.sent.size());
  if (p.ecm) {
    for (size_t pg = 0; pg < o.received.size(); ++pg) EXPECT_TRUE(o.sent[pg] == o.received[pg]) << "ECM page " << pg + 1 << " differs";
  }
  if (p.completes) {
    EXPECT_EQ(o.audioStatus, T30_ERR_OK) << t30_completion_code_to_str(o.audioStatus);
    EXPECT_EQ(o.t38Status, T30_ERR_OK) << t30_completion_code_to_str(o.t38Status);
    EXPECT_EQ(o.received.size(), 2u);
  }
}

std::vector<CutParams> cutCases() {
  using faxcall::DropOn;
  std::vector<CutParams> v;
  // IFP packets in place of one datagram's primary: indicators (no-signal, trainings, a V.21
  // preamble), and V.21 data whose one field ends the signal (HDLC or page data)
  const std::vector<std::vector<uint8_t>> indicators = {{0x00}, {0x0A}, {0x0E}, {0x12}, {0x16}, {0x06}};
  const std::vector<std::vector<uint8_t>> sigEnds = {{0xC0, 0x01, 0x10}, {0xC0, 0x01, 0x70}};
  const uint8_t kCsi = 0x02, kTsi = 0x42, kDis = 0x01, kDcs = 0x41, kPps = 0x7D;
  size_t n = 0;
  for (const auto& r : kRates)
    for (bool ecm : {false, true}) {
      const std::string t = std::string(r.tag) + (ecm ? "_ecm" : "_nonecm");
      // the answer to the audio terminal's burst is held back until the audio terminal, hearing
      // nothing, repeats the burst: the answer takes the line in the middle of the repeat's first
      // frame, which the relay had begun to pass on (the T.38 sender's TSI and DCS in the middle of
      // the receiver's CSI; the T.38 receiver's CFR in the middle of the sender's TSI)
      v.push_back({t + "_t38_to_audio_dcs_late", r.modems, ecm, false,
                   {{.on = DropOn::kV21Preamble, .skip = 0, .burst = 1, .hold = true}}, {{DropOn::kV21FrameFcf, 1, 1, kCsi}}});
      v.push_back({t + "_audio_to_t38_cfr_late", r.modems, ecm, true,
                   {{.on = DropOn::kV21Preamble, .skip = 1, .burst = 1, .hold = true}}, {{DropOn::kV21FrameFcf, 1, 1, kTsi}},
                   true});
      // a signal in place of one octet of a frame from the T.38 terminal: a command (DCS, DIS) at
      // its FCF, a middle or its last octet; then the middle of a PPS or a TSI, of a CSI
      const int at = int(n % 3);
      const auto& indicator = indicators[n % indicators.size()];
      const auto& sigEnd = sigEnds[n % sigEnds.size()];
      v.push_back({t + "_t38_to_audio_dcs_cut_" + std::to_string(at), r.modems, ecm, false,
                   {{.on = DropOn::kV21FrameFcf, .skip = at, .burst = 1, .fcf = kDcs, .replaceBy = indicator}}, {}, true});
      v.push_back({t + (ecm ? "_t38_to_audio_pps_cut" : "_t38_to_audio_tsi_cut"), r.modems, ecm, false,
                   {{.on = DropOn::kV21FrameFcf, .skip = 2, .burst = 1, .fcf = ecm ? kPps : kTsi, .replaceBy = sigEnd}}, {}, true});
      v.push_back({t + "_audio_to_t38_dis_cut_" + std::to_string(at), r.modems, ecm, true,
                   {{.on = DropOn::kV21FrameFcf, .skip = at, .burst = 1, .fcf = kDis, .replaceBy = sigEnd}}, {}, true});
      v.push_back({t + "_audio_to_t38_csi_cut", r.modems, ecm, true,
                   {{.on = DropOn::kV21FrameFcf, .skip = 4, .burst = 1, .fcf = kCsi, .replaceBy = indicator}}, {}, true});
      ++n;
    }
  // a signal end in place of page data in the middle of an ECM frame: of a V.21 signal, of the
  // page's HDLC data, of page data without error correction
  const struct {
    const char* tag;
    int modems;
    std::vector<uint8_t> ifp;
  } ecmCuts[] = {{"v17", kV17, {0xC0, 0x01, 0x10}}, {"v29", kV29, {0xC8, 0x01, 0x10}}, {"v27", kV27, {0xC4, 0x01, 0x70}}};
  for (const auto& x : ecmCuts)
    v.push_back({std::string(x.tag) + "_ecm_t38_to_audio_page_data_cut", x.modems, true, false,
                 {{.on = DropOn::kEcmData, .skip = 21, .burst = 1, .replaceBy = x.ifp}}, {}, true});
  // the T.38 sender's first post-page command held back until the audio terminal gives up waiting
  // and starts again with its CSI and DIS
  for (bool ecm : {false, true})
    v.push_back({std::string("v17_") + (ecm ? "ecm" : "nonecm") + "_t38_to_audio_post_page_late", kV17, ecm, false,
                 {{.on = DropOn::kV21Preamble, .skip = 2, .burst = 1, .hold = true}}, {{DropOn::kV21FrameFcf, 1, 1, kCsi}}});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Cuts, FaxCallCutFrame, ::testing::ValuesIn(cutCases()),
                         [](const ::testing::TestParamInfo<CutParams>& i) { return i.param.name; });

}  // namespace

// ---- a relay that aborts while the terminals go on ----

namespace {

struct AbortParams {
  std::string name;
  int modems;
  bool ecm;
  std::vector<uint8_t> training;  // the training indicator of the call's own modem
};
void PrintTo(const AbortParams& p, std::ostream* os) { *os << p.name; }

class FaxCallAbort : public ::testing::TestWithParam<AbortParams> {};

// The T.38 receiver's answer to the audio sender's command after the last page arrives as a
// training indicator (stale, or a broken peer): the relay starts page data towards the line that
// never comes and, with ECM, stops following the line until it gives up. After that abort the audio
// terminal's repeats and its DCN must still reach the T.38 terminal: the call ends for both well
// before the harness's limit (9000 frames) instead of leaving the T.38 receiver waiting in its page.
TEST_P(FaxCallAbort, BothTerminalsEndPromptlyAfterTheRelayAborts) {
  using faxcall::DropOn;
  const AbortParams& p = GetParam();
  Case c{p.name.c_str(), p.modems, p.ecm, true, 0, false, {}, {{.on = DropOn::kV21Preamble, .skip = 3, .burst = 1, .replaceBy = p.training}}};
  const Outcome o = runCall(c);
  int aborts = 0;
  for (uint16_t e : gHostEvents) aborts += e == FAXR_ABORT_EVT;
  std::printf("[ abort %s ] frames %ld, relay aborts %d\n", p.name.c_str(), o.frames, aborts);
  EXPECT_GE(o.audioStatus, 0) << "the audio terminal never ended";
  EXPECT_GE(o.t38Status, 0) << "the T.38 terminal never ended";
  EXPECT_LE(o.frames, 7000) << "the call went on long after the relay aborted";
  for (const auto& f : faxcall::forgedFrames(o.t38Frames, o.audioFrames)) ADD_FAILURE() << "the audio terminal accepted " << f;
  for (const auto& f : faxcall::forgedFrames(o.audioFrames, o.t38Frames)) ADD_FAILURE() << "the T.38 terminal accepted " << f;
  ASSERT_LE(o.received.size(), o.sent.size());
  for (size_t pg = 0; pg < o.received.size(); ++pg) EXPECT_TRUE(o.sent[pg] == o.received[pg]) << "page " << pg + 1 << " differs";
}

std::vector<AbortParams> abortCases() {
  // V.17 14400 short, V.29 9600, V.27ter 4800 trainings; without ECM the relay keeps following
  // the line while it sends page data towards it, so those calls end the same way
  const std::vector<uint8_t> trainings[] = {{0x1C}, {0x0E}, {0x0A}};
  std::vector<AbortParams> v;
  for (size_t r = 0; r < 3; ++r)
    for (bool ecm : {true, false})
      v.push_back({std::string(kRates[r].tag) + (ecm ? "_ecm" : "_nonecm") + "_audio_to_t38_answer_as_training", kRates[r].modems, ecm,
                   trainings[r]});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Aborts, FaxCallAbort, ::testing::ValuesIn(abortCases()),
                         [](const ::testing::TestParamInfo<AbortParams>& i) { return i.param.name; });

}  // namespace
