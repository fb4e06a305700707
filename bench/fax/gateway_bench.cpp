// The whole T.38 fax gateway, ours next to libspandsp's: CPU per second of a fax call. A call runs
// once between an independent audio fax terminal on the gateway's line side and an independent
// T.38 terminal on its network side, through our gateway, recording every frame of line audio and
// every datagram the gateway was given. Each gateway then replays those same inputs alone: ours is
// the V.21, fax datapump, fax relay and T.38 services on the real framework, spandsp's its
// t38_gateway (given each datagram's primary packet). A case per modem, with and without error
// correction, in both directions: pages from the line (the gateway demodulates them) and pages
// towards the line (it modulates them, listening for V.21 all call). Prints one ratio per case and
// their median.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../../tests/source/srv/faxr/faxr_gateway_channel.h"
#include "faxr.h"
#include "qrn/qrn.h"
#include "t38.h"

namespace {

using faxrchan::kFrame;
constexpr long kMaxFrames = 60000;  // ten minutes: the slowest case's two pages take about four
constexpr int kModems = T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17;

using Bytes = std::vector<uint8_t>;

// One recorded call: the modem both terminals offer, error correction, and which terminal sends.
struct Case {
  const char* name;
  int modems;
  bool ecm;
  bool audioSends;  // pages from the line; else towards it
};

constexpr std::array<Case, 12> kCases{{
    {"v17_nonecm_from_line", T30_SUPPORT_V17, false, true},  {"v17_ecm_from_line", T30_SUPPORT_V17, true, true},
    {"v17_nonecm_to_line", T30_SUPPORT_V17, false, false},   {"v17_ecm_to_line", T30_SUPPORT_V17, true, false},
    {"v29_nonecm_from_line", T30_SUPPORT_V29, false, true},  {"v29_ecm_from_line", T30_SUPPORT_V29, true, true},
    {"v29_nonecm_to_line", T30_SUPPORT_V29, false, false},   {"v29_ecm_to_line", T30_SUPPORT_V29, true, false},
    {"v27_nonecm_from_line", T30_SUPPORT_V27TER, false, true}, {"v27_ecm_from_line", T30_SUPPORT_V27TER, true, true},
    {"v27_nonecm_to_line", T30_SUPPORT_V27TER, false, false},  {"v27_ecm_to_line", T30_SUPPORT_V27TER, true, false},
}};

// What the gateway was given, frame by frame.
struct Recording {
  std::vector<std::vector<int16_t>> audio;   // line audio into the gateway
  std::vector<std::vector<Bytes>> packets;   // datagrams from the network into the gateway
  std::vector<std::vector<Bytes>> ifps;      // spandsp's form of them: each one's primary packet
  std::vector<std::vector<uint16_t>> seqs;   // and its sequence number
  std::vector<size_t> sent;                  // ours: datagrams the gateway sent, per frame
  bool completed = false;
};

// Two pages of bars, 1728 pels wide, as a TIFF-F file.
void writePages(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (t == nullptr) return;
  constexpr int kRows = 1100;  // a whole page at the standard resolution
  std::vector<uint8_t> line(1728 / 8);
  for (int p = 0; p < 2; ++p) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kRows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRows);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 98.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, p, 2);
    for (int r = 0; r < kRows; ++r) {
      std::fill(line.begin(), line.end(), 0);
      for (int x = 0; x < 1728; ++x)
        if (((x + r * (p + 2)) / 16) % 7 == 0) line[x / 8] = uint8_t(line[x / 8] | (0x80 >> (x % 8)));
      TIFFWriteScanline(t, line.data(), uint32_t(r), 0);
    }
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// The independent terminals of a call; the sending one calls.
struct Terminals {
  std::string txFile = "/tmp/fax_gateway_bench_" + std::to_string(getpid()) + "_tx.tif";
  std::string rxFile = "/tmp/fax_gateway_bench_" + std::to_string(getpid()) + "_rx.tif";
  fax_state_t* fax = nullptr;
  t38_terminal_state_t* t38 = nullptr;
  int audioDone = -1, t38Done = -1;
  std::vector<Bytes> out;  // the T.38 terminal's IFP packets this frame
  static void phaseE(t30_state_t*, void* user, int code) { *static_cast<int*>(user) = code; }
  static int sent(t38_core_state_t*, void* user, const uint8_t* buf, int len, int) {
    static_cast<Terminals*>(user)->out.emplace_back(buf, buf + len);
    return 0;
  }
  explicit Terminals(const Case& c) {
    writePages(txFile);
    fax = fax_init(nullptr, c.audioSends);
    fax_set_transmit_on_idle(fax, 1);
    t38 = t38_terminal_init(nullptr, !c.audioSends, sent, this);
    t38_set_t38_version(t38_terminal_get_t38_core_state(t38), 0);
    t30_state_t* audio = fax_get_t30_state(fax);
    t30_state_t* remote = t38_terminal_get_t30_state(t38);
    for (t30_state_t* t : {audio, remote}) {
      t30_set_supported_modems(t, c.modems);
      t30_set_ecm_capability(t, c.ecm);
      t30_set_supported_compressions(t, T30_SUPPORT_T4_1D_COMPRESSION);
    }
    t30_set_tx_file(c.audioSends ? audio : remote, txFile.c_str(), -1, -1);
    t30_set_rx_file(c.audioSends ? remote : audio, rxFile.c_str(), -1);
    t30_set_phase_e_handler(audio, phaseE, &audioDone);
    t30_set_phase_e_handler(remote, phaseE, &t38Done);
  }
  ~Terminals() {
    t38_terminal_free(t38);
    fax_free(fax);
    std::remove(txFile.c_str());
    std::remove(rxFile.c_str());
  }
  bool done() const { return audioDone >= 0 && t38Done >= 0; }
  bool completed() const { return audioDone == T30_ERR_OK && t38Done == T30_ERR_OK; }
  void toT38(const uint8_t* ifp, int len, uint16_t seq) {
    t38_core_rx_ifp_packet(t38_terminal_get_t38_core_state(t38), ifp, len, seq);
  }
};

// ---- ours: the services on the framework between two probes ----

struct Udptl {  // the network side's datagrams: no loss here, so no redundancy is sent
  uint16_t seq = 0;
  Bytes build(const Bytes& ifp) {
    Bytes d{uint8_t(seq >> 8), uint8_t(seq)};
    if (ifp.size() < 128) {
      d.push_back(uint8_t(ifp.size()));
    } else {
      d.push_back(uint8_t(0x80 | (ifp.size() >> 8)));
      d.push_back(uint8_t(ifp.size()));
    }
    d.insert(d.end(), ifp.begin(), ifp.end());
    d.push_back(0x00);  // redundancy: no secondary packets
    d.push_back(0x00);
    ++seq;
    return d;
  }
  // The primary packet of a datagram and its sequence number; false when malformed.
  static bool primary(const Bytes& d, Bytes& ifp, uint16_t& s) {
    if (d.size() < 3) return false;
    s = uint16_t((d[0] << 8) | d[1]);
    size_t at = 2, n = d[2];
    if (n & 0x80) {
      if (d.size() < 4) return false;
      n = ((n & 0x3F) << 8) | d[3];
      at = 4;
    } else {
      at = 3;
    }
    if (at + n > d.size()) return false;
    ifp.assign(d.begin() + long(at), d.begin() + long(at + n));
    return true;
  }
};

// The channel's probes: in recording mode they carry a live call, in replay mode they give the
// gateway what it was given then and throw its outputs away.
struct Channel {
  Recording* rec = nullptr;
  bool replay = false;
  Terminals* terms = nullptr;
  size_t audioAt = 0, packetsAt = 0;
  std::deque<std::vector<Bytes>> toGateway;  // recording: datagrams per egress frame
  std::vector<Bytes> fromGateway;
  size_t sentNow = 0;  // datagrams the gateway sent this frame
  size_t sentInReplay = 0;
};
Channel gCh;

// The stand-ins' hooks.
void datagramOut(const uint8_t* d, uint16_t length) {
  ++gCh.sentNow;
  if (!gCh.replay) gCh.fromGateway.emplace_back(d, d + length);
}
void datagramsOutEnd() {
  if (gCh.replay)
    gCh.sentInReplay += gCh.sentNow;
  else
    gCh.rec->sent.push_back(gCh.sentNow);
  gCh.sentNow = 0;
}
void sendAll(const std::vector<Bytes>& datagrams) {
  for (const Bytes& d : datagrams) faxrchan::sendDatagram(d.data(), uint16_t(d.size()));
}
void datagramsIn() {
  if (gCh.replay) {  // straight from the recording, as the peer's replay takes them
    if (gCh.packetsAt < gCh.rec->packets.size()) sendAll(gCh.rec->packets[gCh.packetsAt]);
    ++gCh.packetsAt;
    return;
  }
  std::vector<Bytes> now;
  if (!gCh.toGateway.empty()) {
    now = std::move(gCh.toGateway.front());
    gCh.toGateway.pop_front();
  }
  gCh.rec->packets.push_back(now);
  ++gCh.packetsAt;
  sendAll(now);
}
void lineIn(int16_t* x) {
  if (gCh.replay) {
    if (gCh.audioAt < gCh.rec->audio.size()) std::copy_n(gCh.rec->audio[gCh.audioAt].data(), kFrame, x);
  } else {
    const int n = fax_tx(gCh.terms->fax, x, kFrame);
    std::fill(x + n, x + kFrame, int16_t{0});
    gCh.rec->audio.emplace_back(x, x + kFrame);
  }
  ++gCh.audioAt;
}
void lineOut(const int16_t* x) {
  if (gCh.replay) return;
  int16_t copy[kFrame];
  std::copy_n(x, kFrame, copy);
  fax_rx(gCh.terms->fax, copy, kFrame);
}

void host(QRN_Handle, QRN_SocketMsg* msg) { QRN_FreeSocketMsg(msg); }

// Opens the gateway channel and enables the relay; the frames this takes are part of every call.
void openGateway() {
  faxrchan::openFaxGateway(host, {datagramOut, datagramsOutEnd, datagramsIn, lineIn, lineOut});
  faxrchan::command(T38_ENABLE_CMD, 1, 0);
  faxrchan::command(FAXR_ENABLE_CMD, 1, 0);
}

// The case's call through our gateway, recorded once.
const Recording& recording(size_t caseIndex) {
  static std::array<Recording, kCases.size()> recs;
  Recording& rec = recs[caseIndex];
  if (!rec.audio.empty()) return rec;
  Terminals terms(kCases[caseIndex]);
  Udptl udptl;
  gCh = Channel{};
  gCh.rec = &rec;
  gCh.terms = &terms;
  openGateway();
  for (long f = 0; f < kMaxFrames && !terms.done(); ++f) {
    faxrchan::runFrame();
    for (const Bytes& d : gCh.fromGateway) {
      Bytes ifp;
      uint16_t seq;
      if (Udptl::primary(d, ifp, seq)) terms.toT38(ifp.data(), int(ifp.size()), seq);
    }
    gCh.fromGateway.clear();
    t38_terminal_send_timeout(terms.t38, kFrame);
    std::vector<Bytes> datagrams;
    for (const Bytes& ifp : terms.out) datagrams.push_back(udptl.build(ifp));
    terms.out.clear();
    gCh.toGateway.push_back(std::move(datagrams));
  }
  faxrchan::closeChannel();
  rec.completed = terms.completed();
  for (const auto& frame : rec.packets) {
    rec.ifps.emplace_back();
    rec.seqs.emplace_back();
    for (const Bytes& d : frame) {
      Bytes ifp;
      uint16_t seq;
      if (!Udptl::primary(d, ifp, seq)) continue;
      rec.ifps.back().push_back(std::move(ifp));
      rec.seqs.back().push_back(seq);
    }
  }
  return rec;
}

// ---- spandsp's gateway ----

int dropPacket(t38_core_state_t*, void*, const uint8_t*, int, int) { return 0; }

t38_gateway_state_t* spandspGateway(const Case& c) {
  t38_gateway_state_t* gw = t38_gateway_init(nullptr, dropPacket, nullptr);
  t38_gateway_set_supported_modems(gw, kModems);
  t38_gateway_set_ecm_capability(gw, c.ecm);
  t38_gateway_set_transmit_on_idle(gw, 1);
  t38_set_t38_version(t38_gateway_get_t38_core_state(gw), 0);
  return gw;
}

// A replay's frames: the whole call.
size_t replayFrames(const Recording& rec) { return rec.audio.size(); }

void BM_GatewayOurs(benchmark::State& st, size_t caseIndex) {
  const Recording& rec = recording(caseIndex);
  if (!rec.completed) st.SkipWithError("the call through our gateway did not complete");
  const size_t frames = replayFrames(rec);
  for (auto _ : st) {
    st.PauseTiming();
    gCh = Channel{};
    gCh.rec = const_cast<Recording*>(&rec);
    gCh.replay = true;
    openGateway();
    st.ResumeTiming();
    while (gCh.audioAt < frames) faxrchan::runFrame();
    st.PauseTiming();
    faxrchan::closeChannel();
    // the replay sent what the call did, or it is not the call's work
    size_t sentInCall = 0;
    for (size_t f = 0; f < size_t(faxrchan::frames()) && f < rec.sent.size(); ++f) sentInCall += rec.sent[f];
    if (sentInCall != gCh.sentInReplay) {
      st.SkipWithError("the replay differs from the call");
      break;  // an errored run may not resume its timing
    }
    st.ResumeTiming();
  }
  st.counters["call_s"] = double(frames) / 100.0;
}

void BM_GatewaySpandsp(benchmark::State& st, size_t caseIndex) {
  const Recording& rec = recording(caseIndex);
  if (!rec.completed) st.SkipWithError("the call through our gateway did not complete");
  const size_t frames = replayFrames(rec);
  int16_t line[kFrame], out[kFrame];
  for (auto _ : st) {
    t38_gateway_state_t* gw = spandspGateway(kCases[caseIndex]);
    for (size_t f = 0; f < frames; ++f) {
      std::copy_n(rec.audio[f].data(), kFrame, line);
      t38_gateway_rx(gw, line, kFrame);
      t38_gateway_tx(gw, out, kFrame);
      for (size_t i = 0; i < rec.ifps[f].size(); ++i)
        t38_core_rx_ifp_packet(t38_gateway_get_t38_core_state(gw), rec.ifps[f][i].data(), int(rec.ifps[f][i].size()),
                               rec.seqs[f][i]);
    }
    t38_gateway_free(gw);
  }
  st.counters["call_s"] = double(frames) / 100.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<orvox_bench::RatioPair> pairs;
  for (size_t i = 0; i < kCases.size(); ++i) {
    const std::string ours = std::string("BM_GatewayOurs/") + kCases[i].name;
    const std::string peer = std::string("BM_GatewaySpandsp/") + kCases[i].name;
    benchmark::RegisterBenchmark(ours.c_str(), BM_GatewayOurs, i)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(peer.c_str(), BM_GatewaySpandsp, i)->Unit(benchmark::kMillisecond);
    pairs.push_back({std::string("T.38 gateway ") + kCases[i].name, ours, peer});
  }
  return orvox_bench::runWithRatios(argc, argv, std::move(pairs), "T.38 gateway, median of the cases");
}
