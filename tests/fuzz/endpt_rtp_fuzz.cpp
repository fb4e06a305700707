// The endpoint library's RTP classifier on arbitrary packets: it never reads past the packet,
// and what it calls a payload lies inside the packet.
#include <cstdlib>
#include <vector>

#include "vrgEndptHelpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t nte = data[0] & 0x7F;
  const bool gr303 = data[1] & 1;
  // An exact-size copy, so that any read past the end is caught.
  std::vector<uint8_t> packet(data + 2, data + size);
  RTPPARSE parse{};
  const RTPPKT_TYPE type = RtpGetPacketType(nte, packet.empty() ? nullptr : packet.data(),
                                            static_cast<int>(packet.size()), gr303, &parse);
  if (type != RTPPKT_INVALID) {
    if (parse.pPayload < packet.data() || parse.pPayload > packet.data() + packet.size()) std::abort();
  }
  return 0;
}
