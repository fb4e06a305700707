// Runs one service's frame kernel of the test channel directly, as the framework's thread would
// (the channel's socket current, one direction, the media on a buffer of the benchmark's), so that
// a benchmark times the service alone and not the channel around it. The channel itself runs only
// now and then, to carry commands, packets and the service's events.
#pragma once

#include "../../tests/source/srv/linetest/line_harness.h"
#include "qrn/qrn.h"

namespace linebench {

class ServiceKernel {
 public:
  ServiceKernel(HSFSRVID id, HAPI_DIRECTION dir) : dir_(dir) {
    socket_ = QRN_FindSocket(linetest::kVhd);
    for (uint16_t i = 0; socket_ != nullptr && i < socket_->numServiceEntries; ++i) {
      if (socket_->service[i].archive != nullptr && socket_->service[i].archive->srvId == id) {
        service_ = &socket_->service[i];
      }
    }
  }
  bool ok() const { return service_ != nullptr; }

  // One frame of `kernel` on `media` (with its history before it, as the media queue keeps).
  void run(void (*kernel)(HSFSRVOBJ), int16_t* media) {
    const QRN_SOCKET_GLOBALS saved = QRN_gSocketContext;
    int16_t* const savedMedia = socket_->memDesc[HSF_MEDQ_LOWBAND];
    const uint32_t savedIbd = socket_->numIBDmessages;
    QRN_gSocketContext.pCurrentSocket = socket_;
    QRN_gSocketContext.pCurrentService = service_;
    QRN_gSocketContext.currentDirection = dir_;
    socket_->memDesc[HSF_MEDQ_LOWBAND] = media;
    socket_->numIBDmessages = 0;
    kernel(service_->serviceData);
    socket_->numIBDmessages = savedIbd;
    socket_->memDesc[HSF_MEDQ_LOWBAND] = savedMedia;
    QRN_gSocketContext = saved;
  }

 private:
  HAPI_DIRECTION dir_;
  QRN_Socket* socket_ = nullptr;
  QRN_Service* service_ = nullptr;
};

// Lets the channel run one frame every `period` calls: commands and events move, recordings are
// trimmed.
inline void channelNowAndThen(long& n, long period = 256) {
  if (++n % period != 0) return;
  linetest::runFrames(1);
  linetest::World& w = linetest::world();
  w.egressOut.clear();
  w.ingressOut.clear();
  w.host.clear();
  w.ingressIbd.clear();
}

}  // namespace linebench
