// Deterministic datagram loss and its judges for the whole-call fax test.
#include "faxr_call_loss.h"

#include <algorithm>
#include <cstdio>

namespace faxcall {

namespace {

// A PER length: one octet, or two with 10xxxxxx first.
bool perLength(const std::vector<uint8_t>& d, size_t& at, size_t& n) {
  if (at >= d.size()) return false;
  if ((d[at] & 0xC0) == 0x80) {
    if (at + 1 >= d.size()) return false;
    n = size_t(((d[at] & 0x3F) << 8) | d[at + 1]);
    at += 2;
  } else if ((d[at] & 0x80) == 0) {
    n = d[at++];
  } else {
    return false;
  }
  return at + n <= d.size();
}

constexpr uint8_t kFcfDis = 0x80, kFcfNsf = 0x20, kFcfNss = 0x22, kFcfCrp = 0x1A;  // X bit (0x01) cleared

}  // namespace

std::string hex(const std::vector<uint8_t>& v) {
  std::string s;
  char b[4];
  for (uint8_t o : v) {
    std::snprintf(b, sizeof(b), "%02x ", o);
    s += b;
  }
  return s;
}

bool datagramPrimary(const std::vector<uint8_t>& dg, uint16_t* seq, std::vector<uint8_t>* ifp) {
  if (dg.size() < 3) return false;
  *seq = uint16_t((dg[0] << 8) | dg[1]);
  size_t at = 2, n = 0;
  if (!perLength(dg, at, n)) return false;
  ifp->assign(dg.begin() + long(at), dg.begin() + long(at + n));
  return true;
}

bool ifpFields(const std::vector<uint8_t>& ifp, std::vector<IfpField>* fields) {
  fields->clear();
  if (ifp.empty()) return false;
  const uint8_t t0 = ifp[0];
  if (t0 & 0x20) return false;  // the extended types never occur in these calls
  if ((t0 & 0x40) == 0) return true;
  const int type = (t0 >> 1) & 15;
  if ((t0 & 0x80) == 0 || ifp.size() < 3) return false;
  const int count = ifp[1];
  size_t at = 2;
  bool high = true;
  for (int f = 0; f < count; ++f) {
    if (at >= ifp.size()) return false;
    const uint8_t nib = high ? uint8_t(ifp[at] >> 4) : uint8_t(ifp[at] & 0x0F);
    IfpField field{type, nib & 7, {}};
    if (nib & 8) {
      ++at;
      high = true;
      if (at + 2 > ifp.size()) return false;
      const size_t n = size_t((ifp[at] << 8) | ifp[at + 1]) + 1;
      at += 2;
      if (at + n > ifp.size()) return false;
      field.data.assign(ifp.begin() + long(at), ifp.begin() + long(at + n));
      at += n;
    } else if (high) {
      high = false;
    } else {
      ++at;
      high = true;
    }
    fields->push_back(std::move(field));
  }
  return true;
}

bool DropPlan::matches(const Drop& d, const std::vector<IfpField>& fields) const {
  switch (d.on) {
    case DropOn::kAny:
      return true;
    case DropOn::kEcmData:
      return std::any_of(fields.begin(), fields.end(),
                         [](const IfpField& f) { return f.dataType >= 1 && f.fieldType == 0 && !f.data.empty(); });
    case DropOn::kSignalEnd:
      return std::any_of(fields.begin(), fields.end(), [](const IfpField& f) {
        return f.fieldType == 1 || f.fieldType == 4 || f.fieldType == 5 || f.fieldType == 7;
      });
    case DropOn::kV21FrameFcf: {
      if (v21Frame_.size() < 3 || (v21Frame_[2] & 0x7F) != d.fcf) return false;
      // this datagram carried the FCF or a later octet of that frame
      size_t carried = 0;
      for (const IfpField& f : fields)
        if (f.dataType == 0 && f.fieldType == 0) carried += f.data.size();
      return carried > 0;
    }
    case DropOn::kEcmFrameEnd:
      return std::any_of(fields.begin(), fields.end(),
                         [](const IfpField& f) { return f.dataType >= 1 && (f.fieldType == 2 || f.fieldType == 4); });
    case DropOn::kV21Data:
      return std::any_of(fields.begin(), fields.end(),
                         [](const IfpField& f) { return f.dataType == 0 && f.fieldType == 0 && !f.data.empty(); });
    case DropOn::kPageData:
      return std::any_of(fields.begin(), fields.end(), [](const IfpField& f) {
        return f.dataType >= 1 && (f.fieldType == 0 || f.fieldType == 6) && !f.data.empty();
      });
    case DropOn::kV21Preamble:
      return fields.empty() && preamble_;
    case DropOn::kTraining:
      return fields.empty() && training_;
    case DropOn::kV21FrameMiddle:
      return v21Carried_ > 0 && v21Frame_.size() > v21Carried_;
    case DropOn::kV21Control: {
      size_t carried = 0;
      for (const IfpField& f : fields)
        if (f.dataType == 0 && f.fieldType == 0) carried += f.data.size();
      return carried > 0 && v21Frame_.size() >= 2 && v21Frame_.size() - carried <= 1;
    }
  }
  return false;
}

bool DropPlan::lose(const std::vector<uint8_t>& dg) {
  std::vector<uint8_t> copy = dg;
  return apply(copy);
}

void DropPlan::observe(const std::vector<uint8_t>& dg) {
  uint16_t seq = 0;
  ifp_.clear();
  fields_.clear();
  if (datagramPrimary(dg, &seq, &ifp_)) ifpFields(ifp_, &fields_);
  preamble_ = ifp_.size() == 1 && ifp_[0] == 0x06;
  // an indicator (no data, no extension) from V.27ter 2400 up to V.17 14400 long
  training_ = ifp_.size() == 1 && (ifp_[0] & 0xE0) == 0 && ((ifp_[0] >> 1) & 15) >= 4;
  // the V.21 frame under way, as the sender sends it
  v21Carried_ = 0;
  for (const IfpField& f : fields_) {
    if (f.dataType != 0) continue;
    if (f.fieldType == 0) {
      if (!v21Open_) v21Frame_.clear();
      v21Open_ = true;
      v21Frame_.insert(v21Frame_.end(), f.data.begin(), f.data.end());
      v21Carried_ += f.data.size();
    } else {
      v21Open_ = false;
    }
  }
}

bool DropPlan::apply(std::vector<uint8_t>& dg) {
  observe(dg);
  const std::vector<uint8_t> ifp = ifp_;
  const std::vector<IfpField>& fields = fields_;
  bool lost = false;
  replaced_ = false;
  replacement_ = {0x00};
  for (size_t i = 0; i < drops_.size(); ++i) {
    bool hit = false;
    if (left_[i] > 0) {
      --left_[i];
      hit = true;
    } else if (matches(drops_[i], fields) && matched_[i]++ == drops_[i].skip) {
      left_[i] = drops_[i].burst - 1;
      hit = true;
    }
    if (hit && drops_[i].hideGap) ++hidden_;
    if (hit && drops_[i].toIndicator) {
      replaced_ = true;
      continue;
    }
    if (hit && drops_[i].toSigEnd) {
      replaced_ = true;
      replacement_ = sigEndOf(ifp);
      continue;
    }
    if (hit && !drops_[i].replaceBy.empty()) {
      replaced_ = true;
      replacement_ = drops_[i].replaceBy;
      continue;
    }
    if (hit && drops_[i].hold) {
      holding_ = true;
      continue;
    }
    // a retyped datagram still goes: its primary's type octet (root form, after the number and
    // the one-octet length) names the new data type
    if (hit && drops_[i].retype >= 0 && dg.size() > 3 && dg[2] < 0x80 && (dg[3] & 0xE0) == 0xC0)
      dg[3] = uint8_t(0xC0 | (drops_[i].retype << 1));
    else if (hit)
      lost = true;
  }
  return lost;
}

std::vector<uint8_t> withPrimary(const std::vector<uint8_t>& dg, const std::vector<uint8_t>& ifp) {
  size_t at = 2, n = 0;
  if (dg.size() < 3 || !perLength(dg, at, n) || ifp.size() > 127) return dg;
  std::vector<uint8_t> out(dg.begin(), dg.begin() + 2);
  out.push_back(uint8_t(ifp.size()));
  out.insert(out.end(), ifp.begin(), ifp.end());
  out.insert(out.end(), dg.begin() + long(at + n), dg.end());
  return out;
}

std::vector<uint8_t> sigEndOf(const std::vector<uint8_t>& ifp) {
  std::vector<IfpField> fields;
  if (ifp.size() < 3 || (ifp[0] & 0xE0) != 0xC0 || !ifpFields(ifp, &fields) || fields.empty()) return ifp;
  const bool nonEcm = fields[0].fieldType >= 6;
  return {ifp[0], 0x01, uint8_t((nonEcm ? 7 : 1) << 4)};
}

void flipSequenceBit(std::vector<uint8_t>& dg, int bit) {
  if (dg.size() >= 2) dg[bit < 8 ? 1 : 0] = uint8_t(dg[bit < 8 ? 1 : 0] ^ (1 << (bit % 8)));
}

void StaleInjector::remember(const std::vector<uint8_t>& dg) {
  sent_.push_back(dg);
  ++index_;
}

std::vector<std::vector<uint8_t>> StaleInjector::due() {
  std::vector<std::vector<uint8_t>> out;
  const int now = index_;
  auto copies = [&](int back, int count) {
    std::vector<std::vector<uint8_t>> v;
    for (int k = 0; k < count; ++k)
      if (now - back + k >= 0 && now - back + k < now) v.push_back(sent_[size_t(now - back + k)]);
    return v;
  };
  if (at(now, s_.lateAt, s_.lateEvery))
    for (auto& d : copies(s_.lateBehind, s_.lateCount)) out.push_back(std::move(d));
  if (at(now, s_.aheadAt, s_.aheadEvery) && now > 0) {
    // numbered from `aheadBy` past the number the stream sends next
    const uint16_t next = uint16_t(((sent_.back()[0] << 8) | sent_.back()[1]) + 1);
    int k = 0;
    for (auto& d : copies(s_.aheadFrom, s_.aheadCount)) {
      const uint16_t seq = uint16_t(next + s_.aheadBy + k++);
      d[0] = uint8_t(seq >> 8);
      d[1] = uint8_t(seq);
      out.push_back(std::move(d));
    }
  }
  return out;
}

namespace {

// Whether a frame the receiver accepted is one the sender sent, or one the gateway may make of
// what it sent (capabilities rewritten, facilities blanked, a command repeat of its own).
bool explainedBy(const FrameLog& tx, const std::vector<uint8_t>& f) {
  if (std::find(tx.sent.begin(), tx.sent.end(), f) != tx.sent.end()) return true;
  if (f.size() < 3) return false;
  const uint8_t fcf = uint8_t(f[2] & 0xFE);
  if (fcf == kFcfCrp && f.size() == 3) return true;
  if (fcf == kFcfDis || fcf == kFcfNsf || fcf == kFcfNss)
    return std::any_of(tx.sent.begin(), tx.sent.end(), [&](const std::vector<uint8_t>& s) {
      return s.size() == f.size() && std::equal(f.begin(), f.begin() + 3, s.begin());
    });
  return false;
}

}  // namespace

std::vector<std::string> forgedFrames(const FrameLog& tx, const FrameLog& rx) {
  std::vector<std::string> forged;
  for (const auto& f : rx.accepted)
    if (!explainedBy(tx, f)) forged.push_back(std::to_string(f.size()) + " octets: " + hex(f).substr(0, 60));
  return forged;
}

std::vector<uint8_t> facilitiesBlanked(std::vector<uint8_t> frame) {
  if (frame.size() > 3 && ((frame[2] & 0xFE) == kFcfNsf || (frame[2] & 0xFE) == kFcfNss))
    std::fill(frame.begin() + 3, frame.end(), uint8_t{0});
  return frame;
}

bool capabilitiesRewritten(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& heard) {
  if (frame.size() != heard.size() || frame.size() < 3 || (frame[2] & 0xFE) != kFcfDis ||
      !std::equal(frame.begin(), frame.begin() + 3, heard.begin()))
    return false;
  // FIF bit n (T.30 numbering) as logged: octet 3 + (n - 1) / 8, mask 1 << ((n - 1) % 8)
  auto at = [](int n) { return size_t(3 + (n - 1) / 8); };
  auto mask = [](int n) { return uint8_t(1 << ((n - 1) % 8)); };
  for (size_t i = 3; i < frame.size(); ++i) {
    uint8_t free = 0, cleared = 0;  // bits that may take any value, bits that may only be cleared
    for (int n : {11, 12, 13, 14})
      if (at(n) == i) free |= mask(n);
    for (int n : {6, 25})
      if (at(n) == i) cleared |= mask(n);
    if (((frame[i] ^ heard[i]) & ~(free | cleared)) != 0 || (heard[i] & cleared & ~frame[i]) != 0) return false;
  }
  return true;
}

std::vector<std::vector<uint8_t>> forgedFrameOctets(const FrameLog& tx, const FrameLog& rx) {
  std::vector<std::vector<uint8_t>> forged;
  for (const auto& f : rx.accepted)
    if (!explainedBy(tx, f)) forged.push_back(f);
  return forged;
}

V21FramePlace lastV21Frame(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& packets) {
  std::vector<IfpField> fields;
  // 0: no V.21 data; 1: V.21 data; 2: V.21 data, then the frame's end
  auto kind = [&](const std::vector<uint8_t>& ifp) {
    if (!ifpFields(ifp, &fields)) return 0;
    int k = 0;
    for (const IfpField& f : fields) {
      if (f.dataType != 0) return 0;
      if (!f.data.empty()) k = std::max(k, 1);
      if (k > 0 && f.fieldType >= 1 && f.fieldType <= 5) k = 2;
    }
    return k;
  };
  V21FramePlace at;
  int i = int(packets.size()) - 1;
  while (i >= 0 && kind(packets[size_t(i)].second) == 0) --i;
  if (i < 0) return at;
  at.last = i;
  if (kind(packets[size_t(i)].second) == 2) {
    at.closing = i;
  } else if (i + 1 < int(packets.size()) && ifpFields(packets[size_t(i + 1)].second, &fields) && !fields.empty() &&
             fields[0].dataType == 0 && fields[0].fieldType >= 1 && fields[0].fieldType <= 5) {
    at.closing = i + 1;  // an FCS-only packet after the data closes it
  }
  while (i > 0 && kind(packets[size_t(i - 1)].second) == 1) --i;
  at.first = i;
  for (--i; i >= 0 && kind(packets[size_t(i)].second) == 0; --i) {
  }
  at.previous = i;
  return at;
}

std::vector<uint16_t> unrecoveredWithinRedundancy(const SeqLog& log, int redundancy) {
  std::vector<uint16_t> out;
  for (uint16_t s : log.sent) {
    if (log.delivered.count(s)) continue;
    for (int k = 1; k <= redundancy; ++k)
      if (log.arrived.count(uint16_t(s + k))) {
        out.push_back(s);
        break;
      }
  }
  return out;
}

namespace {

// Frames of one kind (V.21, or high-speed HDLC) whose data was followed, before any FCS status, by
// a signal end or a new signal: an indicator or data of the other kind.
int unclosedFrames(const std::vector<std::vector<uint8_t>>& ifps, bool v21) {
  int unclosed = 0;
  bool open = false;
  std::vector<IfpField> fields;
  for (const auto& ifp : ifps) {
    if (!ifpFields(ifp, &fields)) continue;
    if (fields.empty() || (fields[0].dataType == 0) != v21) {
      unclosed += open;
      open = false;
      continue;
    }
    for (const IfpField& f : fields) {
      if (f.fieldType == 0) {
        open = open || !f.data.empty();
      } else if (f.fieldType >= 2 && f.fieldType <= 5) {
        open = false;
      } else {
        unclosed += open;
        open = false;
      }
    }
  }
  return unclosed;
}

}  // namespace

int unclosedHdlcFrames(const std::vector<std::vector<uint8_t>>& ifps) { return unclosedFrames(ifps, false); }

int unclosedV21Frames(const std::vector<std::vector<uint8_t>>& ifps) { return unclosedFrames(ifps, true); }

std::vector<uint8_t> bitReversed(const std::vector<uint8_t>& octets) {
  std::vector<uint8_t> out;
  for (uint8_t o : octets) {
    uint8_t r = 0;
    for (int b = 0; b < 8; ++b) r = uint8_t(r | (((o >> b) & 1) << (7 - b)));
    out.push_back(r);
  }
  return out;
}

std::vector<std::vector<uint8_t>> goodHdlcFrames(const std::vector<std::vector<uint8_t>>& ifps, bool v21) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> octets;
  std::vector<IfpField> fields;
  for (const auto& ifp : ifps) {
    // a packet that is no T.30 data of this kind (a new signal, a packet lost or disputed) ends
    // whatever was open
    if (!ifpFields(ifp, &fields) || fields.empty()) {
      octets.clear();
      continue;
    }
    for (const IfpField& f : fields) {
      if ((f.dataType == 0) != v21 || f.fieldType >= 6) {
        octets.clear();
        continue;
      }
      octets.insert(octets.end(), f.data.begin(), f.data.end());
      if ((f.fieldType == 2 || f.fieldType == 4) && !octets.empty()) frames.push_back(octets);
      if (f.fieldType != 0) octets.clear();
    }
  }
  return frames;
}

bool carriesV21Frame(const std::vector<std::vector<uint8_t>>& ifps, const std::vector<uint8_t>& logged) {
  // the terminals log a frame's octets with their bits in the other order than IFP data carries them
  const auto frames = goodHdlcFrames(ifps, true);
  return std::find(frames.begin(), frames.end(), bitReversed(logged)) != frames.end();
}

void PacketsArrived::take(const std::vector<uint8_t>& dg) {
  // the copies, oldest first, then the primary: each number once, as it first arrived (what a
  // datagram malformed further on still carries before that counts)
  Datagram d;
  if (!parseDatagram(dg, &d) && d.primary.empty()) return;
  const bool again = !datagrams.insert(dg).second;
  auto took = [&](uint16_t s, const std::vector<uint8_t>& ifp) {
    if (seen.insert(s).second) ifps.push_back(ifp);
    ++contents[s][ifp];
    if (!again) ++words[s][ifp];
    firstCarrier.emplace(s, d.seq);
    firstAt[s].emplace(ifp, now);
  };
  for (size_t k = d.secondaries.size(); k > 0; --k) took(uint16_t(d.seq - k), d.secondaries[k - 1]);
  took(d.seq, d.primary);
}

int firstPacketNotArrived(const PacketsArrived& at, const std::vector<NumberedIfp>& packets, int from, int to) {
  for (int i = std::max(from, 0); i <= to && i < int(packets.size()); ++i) {
    const auto got = at.contents.find(packets[size_t(i)].first);
    if (got == at.contents.end() || got->second.count(packets[size_t(i)].second) == 0) return i;
  }
  return -1;
}

std::vector<NumberedIfp> primariesOf(const std::vector<std::vector<uint8_t>>& datagrams) {
  std::vector<NumberedIfp> out;
  std::set<uint16_t> seen;
  for (const auto& dg : datagrams) {
    Datagram d;
    if (parseDatagram(dg, &d) && seen.insert(d.seq).second) out.emplace_back(d.seq, d.primary);
  }
  return out;
}

int firstDatagramShortOfCopies(const std::vector<std::vector<uint8_t>>& datagrams, int indicators, int pageData) {
  std::vector<std::vector<uint8_t>> before;  // the primaries sent, newest last, each number once
  std::set<uint16_t> seen;
  for (size_t i = 0; i < datagrams.size(); ++i) {
    Datagram d;
    if (!parseDatagram(datagrams[i], &d) || d.primary.empty()) continue;
    // a datagram sent again under its number (a signal's tail) carries what it carried the first time
    const bool again = !seen.insert(d.seq).second;
    const size_t earlier = before.size() - (again ? 1 : 0);
    const uint8_t t0 = d.primary[0];
    const bool fast = (t0 & 0x40) && ((t0 & 0x20) || ((t0 >> 1) & 15) != 0);
    const size_t asked = std::min(size_t(fast ? pageData : indicators), earlier);
    if (d.secondaries.size() < asked) return int(i);
    for (size_t k = 0; k < asked; ++k)
      if (d.secondaries[k] != before[earlier - 1 - k]) return int(i);
    if (!again) before.push_back(d.primary);
  }
  return -1;
}

namespace {

// The numbers strictly between `from` and `to`, in order, under which a packet in `altered` came.
std::vector<uint16_t> movedInto(const std::vector<NumberedIfp>& altered, uint16_t from, uint16_t to) {
  std::vector<uint16_t> out;
  for (const auto& a : altered)
    if (uint16_t(a.first - from) > 0 && uint16_t(a.first - from) < uint16_t(to - from)) out.push_back(a.first);
  std::sort(out.begin(), out.end(), [&](uint16_t x, uint16_t y) { return uint16_t(x - from) < uint16_t(y - from); });
  return out;
}

}  // namespace

std::vector<std::vector<uint8_t>> thePeersWord(const std::vector<NumberedIfp>& packets, int redundancy,
                                               const std::vector<NumberedIfp>& altered, const PacketsArrived& at) {
  std::map<uint16_t, std::set<std::vector<uint8_t>>> put;  // what the peer's datagrams put under each number
  for (size_t i = 0; i < packets.size(); ++i) {
    put[packets[i].first].insert(packets[i].second);
    for (size_t k = 1; k <= size_t(std::max(redundancy, 0)) && k <= i; ++k)
      put[uint16_t(packets[i].first - k)].insert(packets[i - k].second);
  }
  for (const auto& a : altered) put[a.first].insert(a.second);
  // a number the peer sent again with other content (its numbering stepped back) holds one packet
  // of its word each time: what came under it besides the peer's other primaries there is that
  // time's content. Sent again as it was, the number is one packet: nothing tells the two apart.
  std::map<uint16_t, std::vector<std::vector<uint8_t>>> sentUnder;
  std::vector<std::pair<uint16_t, size_t>> order;  // a number, and which of the primaries sent under it
  std::set<uint16_t> listed;
  for (size_t i = 0; i < packets.size(); ++i) {
    const uint16_t s = packets[i].first;
    const int forward = i > 0 ? int(int16_t(s - packets[i - 1].first)) : 0;
    if (forward >= 2 && forward <= redundancy + 1)
      for (int k = forward - 1; k >= 1; --k)
        if (listed.insert(uint16_t(s - k)).second) order.emplace_back(uint16_t(s - k), 0);
    // a number the step skipped is read like any other where a packet the peer sent came under it
    if (forward > redundancy + 1)
      for (const uint16_t skipped : movedInto(altered, packets[i - 1].first, s))
        if (listed.insert(skipped).second) order.emplace_back(skipped, 0);
    auto& under = sentUnder[s];
    if (std::find(under.begin(), under.end(), packets[i].second) != under.end()) continue;
    under.push_back(packets[i].second);
    if (listed.insert(s).second || under.size() > 1) order.emplace_back(s, under.size() - 1);
  }
  std::vector<std::vector<uint8_t>> word;
  for (const auto& [s, time] : order) {
    const auto got = at.contents.find(s);
    std::vector<std::vector<uint8_t>> came;
    const auto& under = sentUnder[s];
    if (got != at.contents.end())
      for (const auto& [content, count] : got->second)
        if (under.size() < 2 || content == under[time] || std::find(under.begin(), under.end(), content) == under.end())
          came.push_back(content);
    word.push_back(came.size() == 1 && put[s].count(came[0]) ? came[0] : std::vector<uint8_t>{});
  }
  return word;
}

void moveSequence(std::vector<uint8_t>& dg, uint16_t by) {
  if (dg.size() < 2) return;
  const uint16_t seq = uint16_t(((dg[0] << 8) | dg[1]) + by);
  dg[0] = uint8_t(seq >> 8);
  dg[1] = uint8_t(seq);
}

std::vector<uint8_t> manyFieldDatagram(uint16_t seq, int fields) {
  std::vector<uint8_t> ifp{0xC0, uint8_t(fields)};
  for (int f = 0; f < fields; f += 2) ifp.push_back(f + 1 < fields ? 0x22 : 0x20);  // two FCS-OK headers an octet
  // number, length, the packet, then the choice octet and no secondaries
  std::vector<uint8_t> dg(3 + ifp.size() + 2, 0);
  dg[0] = uint8_t(seq >> 8);
  dg[1] = uint8_t(seq);
  dg[2] = uint8_t(ifp.size());
  std::copy(ifp.begin(), ifp.end(), dg.begin() + 3);
  return dg;
}

bool parseDatagram(const std::vector<uint8_t>& dg, Datagram* out) {
  size_t at = 2, n = 0;
  if (dg.size() < 3 || !perLength(dg, at, n)) return false;
  out->seq = uint16_t((dg[0] << 8) | dg[1]);
  out->primary.assign(dg.begin() + long(at), dg.begin() + long(at + n));
  out->secondaries.clear();
  at += n;
  if (at >= dg.size() || dg[at] != 0x00) return false;  // the redundancy form only
  size_t count = 0;
  ++at;
  if (!perLength(dg, at, count) && count != 0) return false;
  for (size_t i = 0; i < count; ++i) {
    size_t len = 0;
    if (!perLength(dg, at, len)) return false;
    out->secondaries.emplace_back(dg.begin() + long(at), dg.begin() + long(at + len));
    at += len;
  }
  return true;
}

namespace {
void putLength(std::vector<uint8_t>& d, size_t n) {
  if (n >= 128) d.push_back(uint8_t(0x80 | (n >> 8)));
  d.push_back(uint8_t(n));
}
}  // namespace

std::vector<uint8_t> buildDatagram(const Datagram& d) {
  std::vector<uint8_t> out{uint8_t(d.seq >> 8), uint8_t(d.seq)};
  putLength(out, d.primary.size());
  out.insert(out.end(), d.primary.begin(), d.primary.end());
  out.push_back(0x00);
  putLength(out, d.secondaries.size());
  for (const auto& s : d.secondaries) {
    putLength(out, s.size());
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

std::vector<uint8_t> ifpOf(uint8_t t0, const std::vector<IfpField>& fields) {
  std::vector<uint8_t> out{t0, uint8_t(fields.size())};
  bool high = true;
  for (const IfpField& f : fields) {
    const uint8_t nib = uint8_t((f.fieldType & 7) | (f.data.empty() ? 0 : 8));
    if (high)
      out.push_back(uint8_t(nib << 4));
    else
      out.back() = uint8_t(out.back() | nib);
    if (f.data.empty()) {
      high = !high;
      continue;
    }
    out.push_back(uint8_t((f.data.size() - 1) >> 8));
    out.push_back(uint8_t(f.data.size() - 1));
    out.insert(out.end(), f.data.begin(), f.data.end());
    high = true;
  }
  return out;
}

void IfpRechunker::flush(std::vector<std::vector<uint8_t>>& out, const IfpField* end) {
  std::vector<IfpField> fields;
  if (!waiting_.empty()) fields.push_back({0, fieldType_, std::move(waiting_)});
  if (end != nullptr) fields.push_back(*end);
  if (!fields.empty()) out.push_back(ifpOf(t0_, fields));
  waiting_.clear();
}

std::vector<std::vector<uint8_t>> IfpRechunker::cut(const std::vector<uint8_t>& ifp) {
  std::vector<IfpField> fields;
  if (r_.maxOctets <= 0 || !ifpFields(ifp, &fields)) return {ifp};
  std::vector<std::vector<uint8_t>> out;
  if (fields.empty() || ifp[0] != t0_) flush(out, nullptr);  // an indicator, or data of another kind
  if (fields.empty()) {
    out.push_back(ifp);
    return out;
  }
  t0_ = ifp[0];
  for (const IfpField& f : fields) {
    const bool data = (f.fieldType == 0 || f.fieldType == 6) && !f.data.empty();
    if (!data) {
      flush(out, &f);
      continue;
    }
    if (!waiting_.empty() && f.fieldType != fieldType_) flush(out, nullptr);
    fieldType_ = f.fieldType;
    for (uint8_t o : f.data) {
      waiting_.push_back(o);
      if (waiting_.size() < target_) continue;
      flush(out, nullptr);
      next();
    }
  }
  return out;
}

const char* eventName(EventKind k) {
  switch (k) {
    case EventKind::kRenumber: return "renumber";
    case EventKind::kStep: return "step";
    case EventKind::kStaleRun: return "stale_run";
    case EventKind::kLateBurst: return "late_burst";
    case EventKind::kFieldPrimary: return "field_primary";
    case EventKind::kFieldSecondary: return "field_secondary";
    case EventKind::kFlippedDuplicate: return "flipped_duplicate";
    case EventKind::kRepeatedNumber: return "repeated_number";
    case EventKind::kNumberFlip: return "number_flip";
    case EventKind::kGap: return "gap";
    case EventKind::kMislabelledCopy: return "mislabelled_copy";
  }
  return "?";
}

const char* dropOnName(DropOn on) {
  switch (on) {
    case DropOn::kAny: return "any";
    case DropOn::kV21FrameFcf: return "v21_fcf";
    case DropOn::kEcmData: return "ecm_data";
    case DropOn::kSignalEnd: return "signal_end";
    case DropOn::kV21Control: return "v21_control";
    case DropOn::kEcmFrameEnd: return "ecm_frame_end";
    case DropOn::kV21Data: return "v21_data";
    case DropOn::kPageData: return "page_data";
    case DropOn::kV21Preamble: return "v21_preamble";
    case DropOn::kTraining: return "training";
    case DropOn::kV21FrameMiddle: return "v21_frame_middle";
  }
  return "?";
}

std::string Event::family() const { return on == DropOn::kAny ? eventName(kind) : std::string(eventName(kind)) + "/" + dropOnName(on); }

std::string Event::describe() const {
  static const char* const modes[] = {"retype_field", "retype_data", "truncate", "flip_bit", "to_indicator", "to_sig_end"};
  char b[160];
  std::snprintf(b, sizeof(b), "%s@%.2fs(value %d size %d distance %d spread %d gap %d copy %d %s)", family().c_str(), tick / 100.0,
                value, size, distance, spread, gap, copy, modes[int(mode)]);
  return b;
}

int EventInjector::fired() const { return int(std::count(fired_.begin(), fired_.end(), true)); }

bool EventInjector::apply(long tick, std::vector<uint8_t>& dg, std::vector<std::pair<int, std::vector<uint8_t>>>& extra) {
  watch_.observe(dg);  // what the sender put in it, before any event changes it
  if (shift_ != 0) moveSequence(dg, shift_);
  uint16_t seq = 0;
  std::vector<uint8_t> primary;
  const bool parsed = datagramPrimary(dg, &seq, &primary);
  const uint16_t shiftBefore = shift_;
  for (size_t i = 0; i < events_.size(); ++i)
    if (!fired_[i] && tick >= events_[i].tick && watch_.carries(events_[i].on)) fired_[i] = fire(events_[i], dg, extra);
  for (const auto& [i, numberThen] : alteredInPlace_) {
    const uint16_t sentAs = uint16_t((dg[0] << 8) | dg[1]);
    altered[i].first = uint16_t(altered[i].first + (sentAs - numberThen));
  }
  alteredInPlace_.clear();
  if (parsed) packets.emplace_back(uint16_t(seq + shift_ - shiftBefore), std::move(primary));
  sent_.push_back(dg);
  return losing_ > 0 && losing_-- > 0;
}

namespace {

// Retypes, truncates or flips a bit of the first field of `ifp` that carries data (retyping: the
// first field); false when the packet has no such field.
bool alterField(std::vector<uint8_t>& ifp, FieldMode mode, int value, int size) {
  std::vector<IfpField> fields;
  if (!ifpFields(ifp, &fields) || fields.empty()) return false;
  if (mode == FieldMode::kToIndicator || mode == FieldMode::kToSigEnd) {
    ifp = mode == FieldMode::kToIndicator ? std::vector<uint8_t>{0x00} : sigEndOf(ifp);
    return true;
  }
  if (mode == FieldMode::kRetypeData) {
    const int type = (ifp[0] >> 1) & 15;
    ifp[0] = uint8_t((ifp[0] & 0xE1) | ((value % 16 == type ? (type + 1) % 16 : value % 16) << 1));
    return true;
  }
  auto f = std::find_if(fields.begin(), fields.end(), [](const IfpField& x) { return !x.data.empty(); });
  if (mode == FieldMode::kRetypeField) {
    if (f == fields.end()) f = fields.begin();
    f->fieldType = value % 8 == f->fieldType ? (f->fieldType + 1) % 8 : value % 8;
  } else if (f == fields.end() || (mode == FieldMode::kTruncate && f->data.size() < 2)) {
    return false;
  } else if (mode == FieldMode::kTruncate) {
    f->data.resize(f->data.size() - std::min(f->data.size() - 1, size_t(std::max(size, 1))));
  } else {
    f->data[size_t(value / 8) % f->data.size()] ^= uint8_t(1 << (value % 8));
  }
  ifp = ifpOf(ifp[0], fields);
  return true;
}

}  // namespace

bool EventInjector::fire(const Event& e, std::vector<uint8_t>& dg, std::vector<std::pair<int, std::vector<uint8_t>>>& extra) {
  if (dg.size() < 3) return false;
  const uint16_t seq = uint16_t((dg[0] << 8) | dg[1]);
  const int n = int(sent_.size());
  switch (e.kind) {
    case EventKind::kRenumber:
    case EventKind::kStep: {
      const uint16_t by = e.kind == EventKind::kStep ? uint16_t(e.value) : uint16_t(e.value - seq);
      shift_ = uint16_t(shift_ + by);
      moveSequence(dg, by);
      return true;
    }
    case EventKind::kStaleRun: {
      // what was sent under those numbers when the stream reaches that far back; else the call's
      // first datagrams under them (a peer or network that mixes up its queues)
      const int parts = std::clamp(e.spread, 1, std::max(e.size, 1));
      for (int k = 0; k < e.size; ++k) {
        const int at = n - e.distance + k;
        std::vector<uint8_t> old = at >= 0 && at < n ? sent_[size_t(at)] : n > 0 ? sent_[size_t(std::min(k, n - 1))] : dg;
        const uint16_t num = uint16_t(seq - e.distance + k);
        old[0] = uint8_t(num >> 8);
        old[1] = uint8_t(num);
        extra.emplace_back(k * parts / e.size * e.gap, std::move(old));
      }
      return true;
    }
    case EventKind::kLateBurst: {
      const int back = std::min(e.distance, n);
      for (int k = 0; k < e.size && k < back; ++k) extra.emplace_back(0, sent_[size_t(n - back + k)]);
      return true;
    }
    case EventKind::kFieldPrimary:
    case EventKind::kFieldSecondary:
    case EventKind::kFlippedDuplicate: {
      Datagram d;
      if (!parseDatagram(dg, &d)) return false;
      const bool primary = e.kind == EventKind::kFieldPrimary;
      const size_t copy = e.kind == EventKind::kFlippedDuplicate ? 0 : size_t(e.copy);
      if (!primary && copy >= d.secondaries.size()) return false;
      std::vector<uint8_t>& ifp = primary ? d.primary : d.secondaries[copy];
      if (!alterField(ifp, e.kind == EventKind::kFlippedDuplicate ? FieldMode::kFlipBit : e.mode, e.value, e.size)) return false;
      altered.emplace_back(primary ? d.seq : uint16_t(d.seq - 1 - copy), ifp);
      if (e.kind == EventKind::kFlippedDuplicate) {
        extra.emplace_back(0, buildDatagram(d));
      } else {
        dg = buildDatagram(d);
        alteredInPlace_.emplace_back(altered.size() - 1, d.seq);
      }
      return true;
    }
    case EventKind::kGap:
      losing_ += std::max(e.size, 1);
      return true;
    case EventKind::kNumberFlip:
      flipSequenceBit(dg, e.value % 16);
      return true;
    case EventKind::kRepeatedNumber: {
      std::vector<uint8_t> again = dg;
      moveSequence(again, uint16_t(-std::max(e.value, 1)));
      noteMoved(again);
      extra.emplace_back(0, std::move(again));
      return true;
    }
    case EventKind::kMislabelledCopy: {
      // a duplicate the network made, whose number took a bit error on the way
      std::vector<uint8_t> copy = dg;
      flipSequenceBit(copy, e.value % 16);
      noteMoved(copy);
      extra.emplace_back(std::max(e.gap, 0), std::move(copy));
      return true;
    }
  }
  return false;
}

void EventInjector::noteMoved(const std::vector<uint8_t>& dg) {
  Datagram moved;
  if (!parseDatagram(dg, &moved)) return;
  altered.emplace_back(moved.seq, moved.primary);
  for (size_t k = 0; k < moved.secondaries.size(); ++k) altered.emplace_back(uint16_t(moved.seq - 1 - k), moved.secondaries[k]);
}

}  // namespace faxcall
