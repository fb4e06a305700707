// How a whole fax call is judged: completed, forged frames and wrong ECM pages, a terminal left
// waiting, and the named reasons a wait or a forgery is not the gateway's.
#include <algorithm>
#include <vector>

#include "faxr_call.h"

namespace faxcall {

// The audio terminal waits for the T.38 terminal's last frame: whether it reached the gateway whole
// but could not be told apart (Verdict).
void nameTheWaitForTheLastFrame(const Outcome& o, Verdict& v) {
  const V21FramePlace frame = lastV21Frame(o.t38Packets);
  if (frame.last < 0) return;
  auto arrived = [&](int i) { return o.atGateway.contents.count(o.t38Packets[size_t(i)].first) > 0; };
  auto arrivedAsSent = [&](int i) {
    const auto got = o.atGateway.contents.find(o.t38Packets[size_t(i)].first);
    return got != o.atGateway.contents.end() && got->second.count(o.t38Packets[size_t(i)].second) > 0;
  };
  bool whole = true, delimited = false;
  for (int i = frame.first; i <= frame.last; ++i) whole = whole && arrivedAsSent(i);
  // a packet of it never came under its own number (lost, or its number lost a bit): the frame's
  // octets may all have come, but not as the frame's
  v.lastFrameLostByTheNetwork = v.lastFrameLostByTheNetwork || !whole;
  for (int i = frame.previous + 1; i < frame.first; ++i) delimited = delimited || arrived(i);
  v.lastFrameUndelimited = whole && frame.previous >= 0 && frame.previous + 1 < frame.first && !delimited;
  v.lastFrameDisputedByAnAlteredCopy = std::any_of(o.alteredCopies.begin(), o.alteredCopies.end(), [&](const auto& a) {
    bool inFrame = false;
    for (int i = frame.previous + 1; i <= frame.last; ++i) inFrame = inFrame || o.t38Packets[size_t(i)].first == a.first;
    const auto got = o.atGateway.contents.find(a.first);
    if (!inFrame || got == o.atGateway.contents.end() || got->second.size() < 2 || !got->second.count(a.second)) return false;
    const int alteredTimes = got->second.at(a.second);
    return std::all_of(got->second.begin(), got->second.end(), [&](const auto& c) { return c.second <= alteredTimes; });
  });
}

// Whether the T.38 terminal's CED indicator first reached the gateway in the datagram of the packet
// after it, or later.
bool cedIndicatorLate(const Outcome& o) {
  for (size_t i = 0; i + 1 < o.t38Packets.size(); ++i)
    if (o.t38Packets[i].second == std::vector<uint8_t>{0x04}) {
      const auto first = o.atGateway.firstCarrier.find(o.t38Packets[i].first);
      return first != o.atGateway.firstCarrier.end() && static_cast<int16_t>(first->second - o.t38Packets[i + 1].first) >= 0;
    }
  return false;
}

Verdict judge(const Case& c, const Outcome& o) {
  Verdict v;
  v.completed = o.audioStatus == T30_ERR_OK && o.t38Status == T30_ERR_OK && o.receiver.pages_rx == 2 && o.received == o.sent;
  v.hung = o.hung;
  // the terminal still waiting, and the last frame the other one sent before it ended
  const bool audioWaits = o.audioStatus < 0 && o.t38Status >= 0, t38Waits = o.t38Status < 0 && o.audioStatus >= 0;
  const FrameLog& ended = audioWaits ? o.t38Frames : o.audioFrames;
  if ((audioWaits || t38Waits) && !ended.sent.empty()) {
    const std::vector<uint8_t>& last = ended.sent.back();
    v.lastFrameLostByTheNetwork = audioWaits ? !carriesV21Frame(o.atGateway.ifps, last)
                                             : carriesV21Frame(o.gatewayIfps, last) && !carriesV21Frame(o.toT38Terminal, last);
    // it accepted the other's last frame, and that was no DCN: the other gave up on an error of its own
    const FrameLog& waiting = audioWaits ? o.audioFrames : o.t38Frames;
    const bool dcn = last.size() >= 3 && (last[2] & 0xFE) == 0xFA;
    v.waitsForAFrameNeverSent = !dcn && std::find(waiting.accepted.begin(), waiting.accepted.end(), last) != waiting.accepted.end();
  }
  if (audioWaits) nameTheWaitForTheLastFrame(o, v);
  v.cedIndicatorLate = cedIndicatorLate(o);
  v.fakes = forgedFrames(o.t38Frames, o.audioFrames);
  for (auto& f : forgedFrames(o.audioFrames, o.t38Frames)) v.fakes.push_back(f);
  v.forged = int(v.fakes.size());
  v.forgedOnlyInRunLengths = forgedOnlyInRunLengths(o.t38Frames, o.audioFrames) && forgedOnlyInRunLengths(o.audioFrames, o.t38Frames);
  const bool alteredAlone = std::any_of(o.alteredCopies.begin(), o.alteredCopies.end(), [&](const auto& a) {
    const auto at = o.atGateway.contents.find(a.first);
    return at != o.atGateway.contents.end() && at->second.size() == 1 && at->second.begin()->first == a.second;
  });
  v.forgedFromAnAlteredCopyAlone =
      alteredAlone && forgedInOneOctet(o.t38Frames, o.audioFrames) && forgedInOneOctet(o.audioFrames, o.t38Frames);
  if (c.ecm)
    for (size_t p = 0; p < o.received.size() && p < o.sent.size(); ++p) v.wrongPages += o.received[p] != o.sent[p];
  return v;
}

}  // namespace faxcall
