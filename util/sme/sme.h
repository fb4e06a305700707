// A table-driven engine for event-driven state machines. A state is a constant array of rows
// ending with a row whose event is SME_NO_EVENT; the engine finds the event's row, runs its
// actions, moves to its next state and handles at once any follow-up event an action returns.
#pragma once

#include <cstdint>

typedef int32_t SME_EVENT;
typedef SME_EVENT (*SME_FUNC)(void *context);

// Ends a state's rows; returned by an action, it means "no follow-up event".
constexpr SME_EVENT SME_NO_EVENT = -1;

typedef struct SME_STATE {
  SME_EVENT event;
  const struct SME_STATE *nextstatep;
  SME_FUNC action[3];  // absent actions are null; the first null ends the list
} SME_STATE;

// Processes event (and its follow-ups) from currentState and returns the new current state;
// transitionCount (may be null) receives the number of transitions made.
const SME_STATE *smeProcess(const SME_STATE *currentState, void *context, SME_EVENT event,
                            unsigned *transitionCount);
