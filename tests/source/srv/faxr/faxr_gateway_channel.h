// A gateway channel on the real framework for the fax tests and the fax gateway benchmark: the
// framework started with a host, one socket (HAPIVHD0) with one stack of services, run tick by
// tick. The fax gateway form stacks the T.38, fax relay, V.21 and fax datapump services between two
// stand-ins: the one on top carries UDPTL datagrams, the one below carries the line's audio; what
// they carry is left to the caller's hooks.
#pragma once

#include <cstdint>
#include <span>

#include "hsf/hsf.h"
#include "qrn/qrn.h"

namespace faxrchan {

constexpr QRN_Handle kVhd = HAPIVHD0;
constexpr int kFrame = 80;  // samples per frame, 10 ms

// The instance memory of a stand-in service: it keeps nothing.
struct Probe {
  int unused;
};
HAPIRESULT probeInit(HSFSRVOBJ);

// Starts the framework with `host` and opens the socket as a gateway channel whose one stack is
// `services` (the framework keeps pointing at them: they must outlive the channel) with `memory`
// bytes for the services.
void openChannel(QRN_HostMsgCallback host, std::span<const QRN_ServiceArchive> services, uint32_t memory);
// Closes the socket, lets the framework finish with it, and stops the framework.
void closeChannel();
void tick();

// What the fax gateway's stand-ins do with a frame; any hook may be absent.
struct GatewayHooks {
  void (*datagramOut)(const uint8_t* data, uint16_t length);  // each datagram the T.38 service sent
  void (*datagramsOutEnd)();                                  // after this frame's datagrams
  void (*datagramsIn)();                  // sends this frame's datagrams from the network (sendDatagram)
  void (*lineIn)(int16_t* frame);         // fills the frame's kFrame samples from the line
  void (*lineOut)(const int16_t* frame);  // the frame's kFrame samples towards the line
};

// Opens the fax gateway channel with `hooks` and runs its first two frames.
void openFaxGateway(QRN_HostMsgCallback host, const GatewayHooks& hooks);
// Frames the fax gateway has finished since it was opened.
long frames();
// Ticks until the fax gateway has finished one more frame (a bounded number of ticks).
void runFrame();
// A host command to the fax gateway, then one frame.
void command(uint16_t header, uint16_t op1, uint16_t op2);
// A datagram from the network into the T.38 service; only from the datagramsIn hook.
void sendDatagram(const uint8_t* data, uint16_t length);

}  // namespace faxrchan
