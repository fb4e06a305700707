// Sockets over BSD sockets. Each call logs itself at info level, clears errno before the system
// call and reports a failure through the error check with its registered function name.

#include "vosSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "voiceLog.h"
#include "vosError.h"

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

enum SocketFunction : unsigned {
  FN_ACCEPT = 2, FN_BIND = 3, FN_CLOSE = 4, FN_CONNECT = 6, FN_CREATE = 7, FN_ADDR_CREATE = 8,
  FN_GET_OPTION = 10, FN_LISTEN = 11, FN_RECV = 12, FN_RECV_FROM = 13, FN_SELECT = 15,
  FN_SEND = 16, FN_SEND_TO = 17, FN_SET_NO_DELAY = 18, FN_SET_NON_BLOCKING = 19,
  FN_SET_OPTION = 20, FN_SHUTDOWN = 21, FN_SET_IP_TOS = 22, FN_GET_NAME = 23,
  FN_GET_PEER_NAME = 24,
};

bool socketModuleStarted = false;

// The result of a system call: OK, or the failure reported under the function's name.
VOS_STATUS checked(int result, SocketFunction fn) {
  if (result >= 0) return VOS_STATUS_OK;
  int err = errno ? errno : EIO;
  return vosErrorCheckStatusLinuxUser(err, vosFunctionId(VOS_SOCKET_MODULE, fn));
}

socklen_t toSockaddr(const VOS_SOCKET_ADDR_STORAGE* in, sockaddr_storage* out) {
  memset(out, 0, sizeof(*out));
  if (in->family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    v4->sin_family = AF_INET;
    v4->sin_port = in->port;
    memcpy(&v4->sin_addr, in->addr, 4);
    return sizeof(sockaddr_in);
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
  v6->sin6_family = AF_INET6;
  v6->sin6_port = in->port;
  v6->sin6_flowinfo = in->flowInfo;
  memcpy(&v6->sin6_addr, in->addr, 16);
  v6->sin6_scope_id = in->scopeId;
  return sizeof(sockaddr_in6);
}

void fromSockaddr(const sockaddr_storage* in, VOS_SOCKET_ADDR_STORAGE* out) {
  memset(out, 0, sizeof(*out));
  out->family = in->ss_family;
  if (in->ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(in);
    out->port = v4->sin_port;
    memcpy(out->addr, &v4->sin_addr, 4);
  } else if (in->ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(in);
    out->port = v6->sin6_port;
    out->flowInfo = v6->sin6_flowinfo;
    memcpy(out->addr, &v6->sin6_addr, 16);
    out->scopeId = v6->sin6_scope_id;
  }
}

void clearSets(fd_set* r, fd_set* w, fd_set* e) {
  if (r) FD_ZERO(r);
  if (w) FD_ZERO(w);
  if (e) FD_ZERO(e);
}

VOS_STATUS lookupMessage(char* message, int size, const char* format, const char* arg) {
  if (message && size > 0) snprintf(message, static_cast<size_t>(size), format, arg);
  return VOS_STATUS_ERR;
}

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

VOS_STATUS vosSocketCreate(int family, int type, int protocol, VOS_SOCKET* sock) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketCreate(%d, %d, %d)", family, type, protocol);
  errno = 0;
  int s = socket(family, type, protocol);
  if (s < 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosSocketCreate failed");
    return checked(s, FN_CREATE);
  }
  sock->s = s;
  sock->family = family;
  sock->isNonBlocking = 0;
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketAddrCreate(const VOS_IP_ADDRESS* ip, uint16_t port, uint32_t scopeId,
                               VOS_SOCKET_ADDR_STORAGE* addr) {
  memset(addr, 0, sizeof(*addr));
  addr->port = htons(port);
  if (ip->ipType == VOS_IPADDRESS_TYPE_V4) {
    addr->family = AF_INET;
    memcpy(addr->addr, ip->u.ipv4.u8, 4);
  } else if (ip->ipType == VOS_IPADDRESS_TYPE_V6) {
    addr->family = AF_INET6;
    memcpy(addr->addr, ip->u.ipv6.u8, 16);
    addr->scopeId = scopeId;
  } else {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s failed bad ip type %d", "vosSocketAddrCreate", ip->ipType);
    return VOS_STATUS_ERR;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketAddrGetIpInfo(const VOS_SOCKET_ADDR_STORAGE* addr, VOS_IP_ADDRESS* ip,
                                  uint16_t* port, uint32_t* scopeId) {
  if (addr->family == AF_INET) {
    vosIpAddrCreateFromU8(VOS_IPADDRESS_TYPE_V4, addr->addr, ip);
  } else if (addr->family == AF_INET6) {
    vosIpAddrCreateFromU8(VOS_IPADDRESS_TYPE_V6, addr->addr, ip);
  } else {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s failed bad ip type %d", "vosSocketAddrGetIpInfo",
              addr->family);
    return VOS_STATUS_ERR;
  }
  if (port) *port = ntohs(addr->port);
  if (scopeId) *scopeId = addr->scopeId;
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketBind(VOS_SOCKET* sock, const VOS_SOCKET_ADDR_STORAGE* addr) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketBind(%d)", sock->s);
  sockaddr_storage sa;
  socklen_t len = toSockaddr(addr, &sa);
  errno = 0;
  return checked(bind(sock->s, reinterpret_cast<sockaddr*>(&sa), len), FN_BIND);
}

VOS_STATUS vosSocketConnect(VOS_SOCKET* sock, const VOS_SOCKET_ADDR_STORAGE* addr) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketConnect(%d)", sock->s);
  sockaddr_storage sa;
  socklen_t len = toSockaddr(addr, &sa);
  errno = 0;
  return checked(connect(sock->s, reinterpret_cast<sockaddr*>(&sa), len), FN_CONNECT);
}

VOS_STATUS vosSocketListen(VOS_SOCKET* sock, int backlog) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketListen(%d, %d)", sock->s, backlog);
  errno = 0;
  return checked(listen(sock->s, backlog), FN_LISTEN);
}

VOS_STATUS vosSocketAccept(VOS_SOCKET* sock, VOS_SOCKET* accepted,
                           VOS_SOCKET_ADDR_STORAGE* peer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketAccept(%d)", sock->s);
  sockaddr_storage sa{};
  socklen_t len = sizeof(sa);
  errno = 0;
  int s = accept(sock->s, reinterpret_cast<sockaddr*>(&sa), &len);
  if (s < 0) return checked(s, FN_ACCEPT);
  accepted->s = s;
  accepted->isNonBlocking = sock->isNonBlocking;
  accepted->family = sock->family;
  if (peer) fromSockaddr(&sa, peer);
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketBindIp(VOS_SOCKET* sock, const VOS_IP_ADDRESS* ip, uint16_t port) {
  VOS_SOCKET_ADDR_STORAGE addr;
  if (vosSocketAddrCreate(ip, port, 0, &addr) != VOS_STATUS_OK) return VOS_STATUS_ERR;
  return vosSocketBind(sock, &addr);
}

VOS_STATUS vosSocketConnectIp(VOS_SOCKET* sock, const VOS_IP_ADDRESS* ip, uint16_t port) {
  VOS_SOCKET_ADDR_STORAGE addr;
  if (vosSocketAddrCreate(ip, port, 0, &addr) != VOS_STATUS_OK) return VOS_STATUS_ERR;
  return vosSocketConnect(sock, &addr);
}

VOS_STATUS vosSocketAcceptIp(VOS_SOCKET* sock, VOS_SOCKET* accepted, VOS_IP_ADDRESS* ip,
                             uint16_t* port) {
  VOS_SOCKET_ADDR_STORAGE peer;
  VOS_STATUS st = vosSocketAccept(sock, accepted, &peer);
  if (st != VOS_STATUS_OK) return st;
  return vosSocketAddrGetIpInfo(&peer, ip, port, nullptr);
}

VOS_STATUS vosSocketSend(VOS_SOCKET* sock, const void* buf, int len, int flags, int* sent) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketSend(%d, %d)", sock->s, len);
  errno = 0;
  ssize_t n = send(sock->s, buf, static_cast<size_t>(len), flags);
  if (sent) *sent = n < 0 ? 0 : static_cast<int>(n);
  return checked(n < 0 ? -1 : 0, FN_SEND);
}

VOS_STATUS vosSocketSendTo(VOS_SOCKET* sock, const void* buf, int len, int flags,
                           const VOS_SOCKET_ADDR_STORAGE* to, int* sent) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketSendTo(%d, %d)", sock->s, len);
  sockaddr_storage sa;
  socklen_t salen = toSockaddr(to, &sa);
  errno = 0;
  ssize_t n = sendto(sock->s, buf, static_cast<size_t>(len), flags,
                     reinterpret_cast<sockaddr*>(&sa), salen);
  if (sent) *sent = n < 0 ? 0 : static_cast<int>(n);
  return checked(n < 0 ? -1 : 0, FN_SEND_TO);
}

VOS_STATUS vosSocketSendToIp(VOS_SOCKET* sock, const void* buf, int len, int flags,
                             const VOS_IP_ADDRESS* ip, uint16_t port, int* sent) {
  VOS_SOCKET_ADDR_STORAGE to;
  if (vosSocketAddrCreate(ip, port, 0, &to) != VOS_STATUS_OK) return VOS_STATUS_ERR;
  return vosSocketSendTo(sock, buf, len, flags, &to, sent);
}

VOS_STATUS vosSocketRecv(VOS_SOCKET* sock, void* buf, int len, int flags, int* received) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketRecv(%d, %d)", sock->s, len);
  errno = 0;
  ssize_t n = recv(sock->s, buf, static_cast<size_t>(len), flags);
  if (received) *received = n < 0 ? 0 : static_cast<int>(n);
  return checked(n < 0 ? -1 : 0, FN_RECV);
}

VOS_STATUS vosSocketRecvFrom(VOS_SOCKET* sock, void* buf, int len, int flags,
                             VOS_SOCKET_ADDR_STORAGE* from, int* received) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketRecvFrom(%d, %d)", sock->s, len);
  sockaddr_storage sa{};
  socklen_t salen = sizeof(sa);
  errno = 0;
  ssize_t n = recvfrom(sock->s, buf, static_cast<size_t>(len), flags,
                       reinterpret_cast<sockaddr*>(&sa), &salen);
  if (received) *received = n < 0 ? 0 : static_cast<int>(n);
  if (n >= 0 && from) fromSockaddr(&sa, from);
  return checked(n < 0 ? -1 : 0, FN_RECV_FROM);
}

VOS_STATUS vosSocketRecvFromIp(VOS_SOCKET* sock, void* buf, int len, int flags,
                               VOS_IP_ADDRESS* ip, uint16_t* port, int* received) {
  VOS_SOCKET_ADDR_STORAGE from;
  VOS_STATUS st = vosSocketRecvFrom(sock, buf, len, flags, &from, received);
  if (st != VOS_STATUS_OK) return st;
  return vosSocketAddrGetIpInfo(&from, ip, port, nullptr);
}

VOS_STATUS vosSocketClose(VOS_SOCKET* sock) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketClose(%d)", sock->s);
  errno = 0;
  VOS_STATUS st = checked(close(sock->s), FN_CLOSE);
  sock->s = -1;
  return st;
}

VOS_STATUS vosSocketShutdown(VOS_SOCKET* sock, int how) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosSocketShutdown(%d, %d)", sock->s, how);
  errno = 0;
  return checked(shutdown(sock->s, how), FN_SHUTDOWN);
}

VOS_STATUS vosSocketGetName(VOS_SOCKET* sock, VOS_SOCKET_ADDR_STORAGE* addr) {
  sockaddr_storage sa{};
  socklen_t len = sizeof(sa);
  errno = 0;
  int r = getsockname(sock->s, reinterpret_cast<sockaddr*>(&sa), &len);
  if (r == 0) fromSockaddr(&sa, addr);
  return checked(r, FN_GET_NAME);
}

VOS_STATUS vosSocketGetPeerName(VOS_SOCKET* sock, VOS_SOCKET_ADDR_STORAGE* addr) {
  sockaddr_storage sa{};
  socklen_t len = sizeof(sa);
  errno = 0;
  int r = getpeername(sock->s, reinterpret_cast<sockaddr*>(&sa), &len);
  if (r == 0) fromSockaddr(&sa, addr);
  return checked(r, FN_GET_PEER_NAME);
}

VOS_STATUS vosSocketGetOption(VOS_SOCKET* sock, int level, int name, void* value, int* len) {
  socklen_t l = static_cast<socklen_t>(*len);
  errno = 0;
  int r = getsockopt(sock->s, level, name, value, &l);
  *len = static_cast<int>(l);
  return checked(r, FN_GET_OPTION);
}

VOS_STATUS vosSocketSetOption(VOS_SOCKET* sock, int level, int name, const void* value, int len) {
  errno = 0;
  return checked(setsockopt(sock->s, level, name, value, static_cast<socklen_t>(len)),
                 FN_SET_OPTION);
}

VOS_STATUS vosSocketSetNoDelay(VOS_SOCKET* sock, int on) {
  errno = 0;
  return checked(setsockopt(sock->s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)), FN_SET_NO_DELAY);
}

VOS_STATUS vosSocketSetIpTos(VOS_SOCKET* sock, int tos) {
  errno = 0;
  return checked(setsockopt(sock->s, IPPROTO_IP, IP_TOS, &tos, sizeof(tos)), FN_SET_IP_TOS);
}

VOS_STATUS vosSocketSetNonBlocking(VOS_SOCKET* sock, int on) {
  errno = 0;
  int flags = fcntl(sock->s, F_GETFL, 0);
  int r = flags < 0 ? -1 : fcntl(sock->s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
  VOS_STATUS st = checked(r, FN_SET_NON_BLOCKING);
  if (st != VOS_STATUS_OK) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosSocketSetNonBlocking failed: status = %d", st);
    return st;
  }
  sock->isNonBlocking = on ? 1 : 0;
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketShare(const VOS_SOCKET* sock, VOS_SOCKET* shared) {
  *shared = *sock;
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketCloseShared(VOS_SOCKET*) { return VOS_STATUS_OK; }

VOS_STATUS vosSocketSelect(int count, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet,
                           uint32_t timeoutMs, int* ready) {
  timeval tv{};
  timeval* limit = nullptr;
  if (timeoutMs != VOS_SOCKET_WAIT_FOREVER) {
    tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    limit = &tv;
  }
  errno = 0;
  int n = select(count, readSet, writeSet, exceptSet, limit);
  if (ready) *ready = n > 0 ? n : 0;
  if (n == 0) {
    clearSets(readSet, writeSet, exceptSet);
    return VOS_STATUS_TIMEOUT;
  }
  if (n < 0) {
    clearSets(readSet, writeSet, exceptSet);
    return checked(n, FN_SELECT);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosSocketLookupServerAndPort(const char* text, VOS_IP_ADDRESS* ip, uint16_t* port,
                                        char* message, int messageSize) {
  if (!text) return VOS_STATUS_ERR;
  char host[256];
  const char* colon = strrchr(text, ':');
  size_t hostLen = colon ? static_cast<size_t>(colon - text) : strlen(text);
  if (hostLen >= sizeof(host)) return lookupMessage(message, messageSize, "Unable to translate '%s' into an IP address", text);
  memcpy(host, text, hostLen);
  host[hostLen] = '\0';

  if (colon) {
    const char* portText = colon + 1;
    char* end = nullptr;
    errno = 0;
    long value = strtol(portText, &end, 10);
    if (*portText == '\0' || *end != '\0' || errno != 0 || *portText == '-')
      return lookupMessage(message, messageSize,
                           "Expecting a positive numeric port specifier; Found '%s'", portText);
    if (value < 1 || value > 65535) {
      if (message && messageSize > 0)
        snprintf(message, static_cast<size_t>(messageSize),
                 "Expecting port to be between 1 and 65535; Found: %ld", value);
      return VOS_STATUS_ERR;
    }
    if (port) *port = static_cast<uint16_t>(value);
  }

  if (strspn(host, "0123456789.") == hostLen && hostLen > 0) {
    int parts = 0;
    for (char* save = nullptr, *part = strtok_r(host, ".", &save); part;
         part = strtok_r(nullptr, ".", &save)) {
      if (strlen(part) > 3 || atoi(part) > 255)
        return lookupMessage(message, messageSize,
                             "Expecting a positive number between 0 and 255, found: '%s'", part);
      parts++;
    }
    if (parts != 4 || vosIpAddrCreateFromStr(std::string(text, hostLen).c_str(), ip) != VOS_STATUS_OK)
      return lookupMessage(message, messageSize, "Expecting IP address of the form a.b.c.d, found: '%s'",
                           std::string(text, hostLen).c_str());
    return VOS_STATUS_OK;
  }

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
    return lookupMessage(message, messageSize, "Unable to translate '%s' into an IP address", host);
  sockaddr_storage sa{};
  memcpy(&sa, result->ai_addr, result->ai_addrlen);
  freeaddrinfo(result);
  VOS_SOCKET_ADDR_STORAGE addr;
  fromSockaddr(&sa, &addr);
  return vosSocketAddrGetIpInfo(&addr, ip, nullptr, nullptr);
}

void vosSocketNtoHU16Array(uint16_t* values, int count) {
  for (int i = 0; i < count; i++) values[i] = ntohs(values[i]);
}
