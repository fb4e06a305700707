// Uniform reporting of failing system calls: each module registers a table of its function
// names, and a function id (module << 8 | index) names the failing operation in the log.
#pragma once

#include <cstddef>

#include "vosTypes.h"

typedef struct {
  unsigned numFuncIds;        // length of funcEntry
  const char *const *funcEntry;  // names by function index; an entry may be null
} VOS_ERROR_MODULE;

VOS_STATUS vosErrorInit(void);
VOS_STATUS vosErrorTerm(void);

// Registers a module's table of function names (the module number is trusted).
VOS_STATUS vosErrorAddFunctionStrings(VOS_MODULE module, const char *const *names,
                                      unsigned numEntries);

// Writes the function's name, or "Module:0x%02x, Function:0x%02x" when it has none.
void vosErrorFunctionStr(VOS_FUNCTION_ID funcId, char *buf, int bufSize);

// 0: OK and nothing logged. Any other error number: logs "returned by <name>: <text> (<n>)"
// under the module "vos" and returns ERR.
VOS_STATUS vosErrorCheckStatusLinuxUser(int errorNumber, VOS_FUNCTION_ID funcId);
