// Start and stop entries of the socket and IP-address services.
#include "vosError.h"
#include "vosSocket.h"

namespace {

// 25 names; the table is one entry longer than the names it holds.
const char *const socketFunctionNames[26] = {
    "vosSocketInit",        "vosSocketTerm",         "vosSocketAccept",
    "vosSocketBind",        "vosSocketClose",        "vosSocketCloseShared",
    "vosSocketConnect",     "vosSocketCreate",       "vosSocketAddrCreate",
    "vosSocketAddrGetIpInfo", "vosSocketGetOption",  "vosSocketListen",
    "vosSocketRecv",        "vosSocketRecvFrom",     "vosSocketShare",
    "vosSocketSelect",      "vosSocketSend",         "vosSocketSendTo",
    "vosSocketSetNoDelay",  "vosSocketSetNonBlocking", "vosSocketSetOption",
    "vosSocketShutdown",    "vosSocketSetIpTos",     "vosSocketGetName",
    "vosSocketGetPeerName", nullptr,
};

bool socketModuleStarted = false;

}  // namespace

VOS_STATUS vosSocketInit(void) {
  vosErrorAddFunctionStrings(VOS_SOCKET_MODULE, socketFunctionNames,
                             sizeof socketFunctionNames / sizeof socketFunctionNames[0]);
  socketModuleStarted = true;
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketTerm(void) {
  socketModuleStarted = false;
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrInit(void) { return VOS_STATUS_OK; }

VOS_STATUS vosIpAddrTerm(void) { return VOS_STATUS_OK; }
