// Helpers shared by the NET service's files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net.h"

namespace netsrv {

inline HSZNETLOCLMEM* instanceOf(void* srvp) { return static_cast<HSZNETLOCLMEM*>(srvp); }

// Sends from NET to the service named by the code's high byte (or, for an event, to the host).
void send(uint16_t header, uint16_t op1, uint16_t op2);
void sendExt(uint16_t header, uint16_t length, const void* data);

// A command to the line channel's echo canceller, sent only when NET controls one.
void sendEcan(const HSZNETLOCLMEM* net, uint16_t header, uint16_t op1, uint16_t op2);
// Echo canceller enable (e, 0) then its options register := options.
void ecanEnableWithOptions(const HSZNETLOCLMEM* net, uint16_t enable, uint16_t options);

// The statistics period: the host's interval, or a second when the host takes none.
inline uint16_t statsIntervalOf(const HSZNETLOCLMEM* net) {
  return net->hsxnetregs.hsxStatsInterval != 0 ? net->hsxnetregs.hsxStatsInterval : uint16_t{1000};
}

// Statistics requests to the codec and to the fax relay service.
void requestCodecStats(const HSZNETLOCLMEM* net);
void requestFaxrStats(const HSZNETLOCLMEM* net);

// Held answers: a copy of the framework's answer to `cmd`, kept until the answer can be given.
QRN_SocketMsg* holdAnswer(const HSFMSG* cmd, HSFMSG* answer);
// Gives a held answer (result 0) and clears the holder; an answer to NET's own command is freed.
void sendHeldAnswer(QRN_SocketMsg*& held);
void freeHeldAnswer(QRN_SocketMsg*& held);

// End of a mode change: the held set-mode answer, then the mode event.
void completeModeChange(HSZNETLOCLMEM* net);
// End of a voice-rate change reported by the codec.
void completeVoiceRate(HSZNETLOCLMEM* net);

// Events from the channel's services.
void cdisEvent(HSZNETLOCLMEM* net, HSFMSG* msg);
void pteEvent(HSZNETLOCLMEM* net, HSFMSG* msg);
void codecEvent(HSZNETLOCLMEM* net, HSFMSG* msg);
void generalEvent(HSZNETLOCLMEM* net, HSFMSG* msg);

// Makes NET the current service while it lives, so that what NET sends from a framework callback
// carries NET as its sender (answers to those commands then come back to NET, not to the host).
class CurrentServiceScope {
 public:
  CurrentServiceScope();
  ~CurrentServiceScope();
  CurrentServiceScope(const CurrentServiceScope&) = delete;
  CurrentServiceScope& operator=(const CurrentServiceScope&) = delete;

 private:
  QRN_Service* saved_;
  bool changed_ = false;
};

}  // namespace netsrv
