// The state-machine engine keeps no state of its own: the caller stores the returned state.
#include "sme.h"

namespace {

// The row of the state that handles event: the first match in table order, or the terminator.
const SME_STATE *findRow(const SME_STATE *state, SME_EVENT event) {
  const SME_STATE *row = state;
  while (row->event != event && row->event != SME_NO_EVENT) {
    ++row;
  }
  return row;
}

// Runs the row's actions until one returns a follow-up event; returns it or SME_NO_EVENT.
SME_EVENT runActions(const SME_STATE &row, void *context) {
  for (SME_FUNC action : row.action) {
    if (action == nullptr) {
      break;
    }
    SME_EVENT followUp = action(context);
    if (followUp != SME_NO_EVENT) {
      return followUp;
    }
  }
  return SME_NO_EVENT;
}

}  // namespace

const SME_STATE *smeProcess(const SME_STATE *currentState, void *context, SME_EVENT event,
                            unsigned *transitionCount) {
  unsigned transitions = 0;
  const SME_STATE *state = currentState;
  while (event != SME_NO_EVENT) {
    const SME_STATE *row = findRow(state, event);
    if (row->event == SME_NO_EVENT) {
      break;  // the state does not list the event: ignored
    }
    event = runActions(*row, context);
    state = row->nextstatep;
    ++transitions;
  }
  if (transitionCount != nullptr) {
    *transitionCount = transitions;
  }
  return state;
}
