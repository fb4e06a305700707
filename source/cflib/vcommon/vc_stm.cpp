#include "vc_stm.h"

namespace {

struct RowView {
  const unsigned char* p;
  VCESTMEVT ev() const { return reinterpret_cast<const VCZSTMROW<1>*>(p)->ev; }
  const void* nsp() const { return reinterpret_cast<const VCZSTMROW<1>*>(p)->nsp; }
};

}  // namespace

const void* vcfStmEventHandlerX(const void* state, VCESTMEVT event, void* context, uint16_t rowBytes,
                                int16_t numActions) {
  if (state == nullptr) return nullptr;
  // Row 0 is never compared: it is the state's own per-pass row.
  for (RowView row{static_cast<const unsigned char*>(state) + rowBytes};; row.p += rowBytes) {
    if (row.ev() <= 0) return state;
    if (row.ev() == event) {
      vcfStmExecuteFlistX(row.p, context, numActions);
      return row.nsp();
    }
  }
}

void vcfStmExecuteFlistX(const void* row, void* context, int16_t numActions) {
  if (row == nullptr) return;
  // Slot i lies i pointers after the first slot, whatever the family's slot count.
  const auto* actions = reinterpret_cast<const VCSTMF*>(static_cast<const unsigned char*>(row) +
                                                        offsetof(VCZSTMROW<1>, actions));
  for (int16_t i = 0; i < numActions; ++i) {
    if (actions[i] == nullptr) return;
    actions[i](context);
  }
}
