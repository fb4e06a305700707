// Caller-ID receive parsing: arbitrary start, body and end packets from the receive service, in
// every country's format. The parse never writes outside its buffer and leaves the texts ended.
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "hdspClass.h"

namespace {
const VRG_COUNTRY kCountries[] = {VRG_COUNTRY_NORTH_AMERICA, VRG_COUNTRY_JAPAN, VRG_COUNTRY_UK,
                                  VRG_COUNTRY_SWEDEN, VRG_COUNTRY_DENMARK, VRG_COUNTRY_BRAZIL};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const VRG_COUNTRY country = kCountries[in.byte() % 6];
  HDSP_CLASS_CLIDRX_STATE state{};
  hdspClidRxReset(&state);
  while (!in.empty()) {
    HSZCLIDRXPACKET packet{};
    packet.hsxClassCode = static_cast<uint16_t>(in.byte() % 4);
    packet.hsxClassMsgWord0 = static_cast<uint16_t>(in.byte() % 24);
    packet.hsxClassMsgWord1 = in.word();
    in.take(packet.hsxClassMsg, sizeof packet.hsxClassMsg);
    hdspClidRxParse(country, &packet, &state);
    if (state.parseBufp < state.parseBuf || state.parseBufp > state.parseBuf + CLIDRX_PARSE_BUF_SIZE) {
      std::abort();
    }
    const EPCLIDRX_DATA& out = state.clidRxData;
    if (strnlen(out.date, sizeof out.date) == sizeof out.date ||
        strnlen(out.number, sizeof out.number) == sizeof out.number ||
        strnlen(out.name, sizeof out.name) == sizeof out.name) {
      std::abort();
    }
  }
  return 0;
}
