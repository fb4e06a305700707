// A thin socket interface over BSD sockets, and the start and stop of the socket and IP-address
// services. Every failing call is reported with its function's registered name and gives ERR.
#pragma once

#include <cstdint>

#include <sys/select.h>
#include <sys/socket.h>

#include "vosIpAddr.h"
#include "vosTypes.h"

typedef struct {
  int s;              // descriptor
  int isNonBlocking;  // recorded mode
  int family;
} VOS_SOCKET;

// A socket address large enough for IPv6.
typedef struct {
  uint16_t family;
  uint16_t port;  // network order
  uint32_t flowInfo;
  uint8_t addr[16];
  uint32_t scopeId;
} VOS_SOCKET_ADDR_STORAGE;

// Waits without limit in vosSocketSelect.
constexpr uint32_t VOS_SOCKET_WAIT_FOREVER = 0xFFFFFFFFu;

VOS_STATUS vosSocketInit(void);
VOS_STATUS vosSocketTerm(void);
VOS_STATUS vosIpAddrInit(void);
VOS_STATUS vosIpAddrTerm(void);

VOS_STATUS vosSocketCreate(int family, int type, int protocol, VOS_SOCKET* sock);
VOS_STATUS vosSocketAddrCreate(const VOS_IP_ADDRESS* ip, uint16_t port, uint32_t scopeId,
                               VOS_SOCKET_ADDR_STORAGE* addr);
VOS_STATUS vosSocketAddrGetIpInfo(const VOS_SOCKET_ADDR_STORAGE* addr, VOS_IP_ADDRESS* ip,
                                  uint16_t* port, uint32_t* scopeId);
VOS_STATUS vosSocketBind(VOS_SOCKET* sock, const VOS_SOCKET_ADDR_STORAGE* addr);
VOS_STATUS vosSocketConnect(VOS_SOCKET* sock, const VOS_SOCKET_ADDR_STORAGE* addr);
VOS_STATUS vosSocketListen(VOS_SOCKET* sock, int backlog);
VOS_STATUS vosSocketAccept(VOS_SOCKET* sock, VOS_SOCKET* accepted, VOS_SOCKET_ADDR_STORAGE* peer);
VOS_STATUS vosSocketBindIp(VOS_SOCKET* sock, const VOS_IP_ADDRESS* ip, uint16_t port);
VOS_STATUS vosSocketConnectIp(VOS_SOCKET* sock, const VOS_IP_ADDRESS* ip, uint16_t port);
VOS_STATUS vosSocketAcceptIp(VOS_SOCKET* sock, VOS_SOCKET* accepted, VOS_IP_ADDRESS* ip,
                             uint16_t* port);
VOS_STATUS vosSocketSend(VOS_SOCKET* sock, const void* buf, int len, int flags, int* sent);
VOS_STATUS vosSocketSendTo(VOS_SOCKET* sock, const void* buf, int len, int flags,
                           const VOS_SOCKET_ADDR_STORAGE* to, int* sent);
VOS_STATUS vosSocketSendToIp(VOS_SOCKET* sock, const void* buf, int len, int flags,
                             const VOS_IP_ADDRESS* ip, uint16_t port, int* sent);
VOS_STATUS vosSocketRecv(VOS_SOCKET* sock, void* buf, int len, int flags, int* received);
VOS_STATUS vosSocketRecvFrom(VOS_SOCKET* sock, void* buf, int len, int flags,
                             VOS_SOCKET_ADDR_STORAGE* from, int* received);
VOS_STATUS vosSocketRecvFromIp(VOS_SOCKET* sock, void* buf, int len, int flags,
                               VOS_IP_ADDRESS* ip, uint16_t* port, int* received);
VOS_STATUS vosSocketClose(VOS_SOCKET* sock);
VOS_STATUS vosSocketShutdown(VOS_SOCKET* sock, int how);
VOS_STATUS vosSocketGetName(VOS_SOCKET* sock, VOS_SOCKET_ADDR_STORAGE* addr);
VOS_STATUS vosSocketGetPeerName(VOS_SOCKET* sock, VOS_SOCKET_ADDR_STORAGE* addr);
VOS_STATUS vosSocketGetOption(VOS_SOCKET* sock, int level, int name, void* value, int* len);
VOS_STATUS vosSocketSetOption(VOS_SOCKET* sock, int level, int name, const void* value, int len);
VOS_STATUS vosSocketSetNoDelay(VOS_SOCKET* sock, int on);
VOS_STATUS vosSocketSetIpTos(VOS_SOCKET* sock, int tos);
VOS_STATUS vosSocketSetNonBlocking(VOS_SOCKET* sock, int on);
VOS_STATUS vosSocketShare(const VOS_SOCKET* sock, VOS_SOCKET* shared);
VOS_STATUS vosSocketCloseShared(VOS_SOCKET* sock);
// TIMEOUT when no socket is ready; the sets are cleared on time-out and on error.
VOS_STATUS vosSocketSelect(int count, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet,
                           uint32_t timeoutMs, int* ready);
// "host[:port]": a dotted address or a host name, and an optional port of 1 to 65535.
VOS_STATUS vosSocketLookupServerAndPort(const char* text, VOS_IP_ADDRESS* ip, uint16_t* port,
                                        char* message, int messageSize);
void vosSocketNtoHU16Array(uint16_t* values, int count);
