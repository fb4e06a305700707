// Host RTP sessions: the session table, stream sockets, the receive thread and RTCP statistics.

#include "rtpSession.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

#include "envFlag.h"
#include "voiceLog.h"

namespace {

constexpr int RTP_MAX_DATAGRAM = 2048;
constexpr int RTCP_MIN_PACKET = 52;  // common header, sender info and one report block
constexpr int EPOLL_WAIT_MS = 1000;
constexpr int EPOLL_MAX_EVENTS = 5;
constexpr uint64_t WAKE_KEY = ~0ull;

session_cfg sessions[RTP_MAX_SESSIONS];
std::recursive_mutex tableLock;
pthread_t rxThread;
bool running = false;
int epollFd = -1;
int wakeFd = -1;
std::atomic<bool> stopRequested{false};

#define RTP_LOG(level, ...) voiceLog(VOICE_MODULE_EPT, level, __VA_ARGS__)

uint64_t streamKey(int handle, bool rtcp) { return static_cast<uint64_t>(handle) * 2 + rtcp; }

stream_cfg* streamOf(uint64_t key) {
  int handle = static_cast<int>(key / 2);
  if (handle < 0 || handle >= RTP_MAX_SESSIONS) return nullptr;
  return key % 2 ? &sessions[handle].rtcp : &sessions[handle].rtp;
}

void clearStream(stream_cfg* s, int handle) {
  memset(s, 0, sizeof(*s));
  s->handle = handle;
  s->fd = -1;
}

bool validHandle(const char* fn, int handle) {
  if (handle < 0 || handle >= RTP_MAX_SESSIONS) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Invalid handle '%d'\n", fn, handle);
    return false;
  }
  if (!sessions[handle].enabled) {
    RTP_LOG(VOICE_LOGLEVEL_NOTICE, "%s: Session '%d' is not enabled\n", fn, handle);
    return false;
  }
  return true;
}

// Fills an IPv4 or IPv6 socket address; returns its length, 0 for an unknown type.
int buildAddr(const VOS_IP_ADDRESS* ip, uint16_t portNet, addr_t* out) {
  memset(out, 0, sizeof(*out));
  if (ip->ipType == VOS_IPADDRESS_TYPE_V4) {
    out->v4.sin_family = AF_INET;
    out->v4.sin_port = portNet;
    memcpy(&out->v4.sin_addr, ip->u.ipv4.u8, 4);
    return sizeof(sockaddr_in);
  }
  if (ip->ipType == VOS_IPADDRESS_TYPE_V6) {
    out->v6.sin6_family = AF_INET6;
    out->v6.sin6_port = portNet;
    memcpy(&out->v6.sin6_addr, ip->u.ipv6.u8, 16);
    return sizeof(sockaddr_in6);
  }
  return 0;
}

int failStream(const char* fn, int fd) {
  RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s [%d]: Error - %s", fn, __LINE__, strerror(errno));
  // A socket whose set-up failed is closed here rather than left behind.
  if (fd >= 0) close(fd);
  return -1;
}

int openStream(stream_cfg* s, uint16_t port, const VOS_IP_ADDRESS* local, RTPRECVCB cb,
               uint8_t tos, bool rtcp) {
  static const char fn[] = "openStream";
  if (s->fd >= 0) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: socket already exists!\n", fn);
    return -1;
  }
  s->data_cb = cb;
  s->tos = tos;
  s->ssrc = 0;
  s->port = htons(port);
  s->local_addr_len = buildAddr(local, s->port, &s->local_addr);
  if (s->local_addr_len == 0) return -1;
  int family = local->ipType == VOS_IPADDRESS_TYPE_V4 ? AF_INET : AF_INET6;
  int fd = socket(family, SOCK_DGRAM, 0);
  if (fd < 0) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: error creating socket: %s\n", fn, strerror(errno));
    return -1;
  }
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&s->local_addr),
           static_cast<socklen_t>(s->local_addr_len)) != 0)
    return failStream(fn, fd);
  if (tos) {
    int value = tos;
    int r = family == AF_INET ? setsockopt(fd, IPPROTO_IP, IP_TOS, &value, sizeof value)
                              : setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &value, sizeof value);
    if (r != 0) return failStream(fn, fd);
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = streamKey(s->handle, rtcp);
  if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) return failStream(fn, fd);
  s->fd = fd;
  RTP_LOG(VOICE_LOGLEVEL_INFO, "%s: opened socket %d on port %d\n", fn, fd, port);
  return 0;
}

void closeStream(stream_cfg* s) {
  if (s->fd < 0) return;
  epoll_ctl(epollFd, EPOLL_CTL_DEL, s->fd, nullptr);
  close(s->fd);
  RTP_LOG(VOICE_LOGLEVEL_INFO, "%s: closed socket %d on port %d\n", "closeStream", s->fd,
          ntohs(s->port));
  clearStream(s, s->handle);
}

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The first report block of an SR or RR: loss since the previous report, jitter, loss rate.
void processReportBlock(rtcpstats_t* st, const uint8_t* block) {
  uint32_t cumLost = be32(block + 4) & 0x00FFFFFF;
  uint32_t extSeq = be32(block + 8);
  uint32_t jitter = be32(block + 12);
  uint32_t lostSince = cumLost - st->dwPrevCumRemotePacketLost;
  st->dwRemotePacketLost = lostSince;
  st->dwPrevCumRemotePacketLost = cumLost;
  st->dwRemoteJitter = jitter / 8;
  if (st->bFirstRtcpReceived) {
    uint32_t advance = extSeq - st->dwPrevRemoteLastSeqNum;
    if (advance != 0) {
      st->wRemotePktLossRate = static_cast<uint32_t>(100ull * lostSince / advance);
      st->bCalRemotePktLossRate = 1;
    }
  }
  st->bFirstRtcpReceived = 1;
  st->dwPrevRemoteNumLost = lostSince;
  st->dwPrevRemoteLastSeqNum = extSeq;
}

void dumpSessionRtcpStats(int handle, const rtcpstats_t& st) {
  RTP_LOG(VOICE_LOGLEVEL_DEBUG,
          "session %d: SR %u ntp %u.%u sent %u pkts %u octets lost %u jitter %u loss %u%%\n",
          handle, st.rtcpSRRecv, st.lastntpsec, st.lastntpfrac, st.dwRemotePacketSent,
          st.dwRemoteOctetSent, st.dwRemotePacketLost, st.dwRemoteJitter, st.wRemotePktLossRate);
}

void readStream(uint64_t key) {
  static const char fn[] = "rtpRecvTask";
  uint8_t buf[RTP_MAX_DATAGRAM];
  RTPRECVCB cb = nullptr;
  int handle = -1;
  ssize_t n;
  {
    std::lock_guard<std::recursive_mutex> g(tableLock);
    stream_cfg* s = streamOf(key);
    if (!s || s->fd < 0) {
      RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: No stream associated with event!\n", fn);
      return;
    }
    handle = s->handle;
    n = recv(s->fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      if (n < 0)
        RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: error while reading from socket on session %d\n", fn,
                handle);
      closeStream(s);
      return;
    }
    if (n < 0) return;
    if (key % 2) rtcpProcess(handle, buf, static_cast<int>(n));
    cb = s->data_cb;
  }
  if (cb) cb(handle, buf, static_cast<int>(n));
}

void* rtpRecvTask(void*) {
  epoll_event events[EPOLL_MAX_EVENTS];
  while (!stopRequested) {
    int n = epoll_wait(epollFd, events, EPOLL_MAX_EVENTS, EPOLL_WAIT_MS);
    for (int i = 0; i < n; i++) {
      if (events[i].data.u64 == WAKE_KEY) continue;
      readStream(events[i].data.u64);
    }
  }
  return nullptr;
}

// The receive thread runs SCHED_FIFO at the highest priority unless real-time scheduling is
// switched off; when it cannot be had the thread runs with default scheduling.
bool startThread() {
  static const char fn[] = "rtpInit";
  if (!envFlagOn("ORVOX_NO_RT")) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    pthread_attr_setschedparam(&attr, &param);
    int r = pthread_create(&rxThread, &attr, rtpRecvTask, nullptr);
    pthread_attr_destroy(&attr);
    if (r == 0) {
      pthread_setname_np(rxThread, "voice-RTP");
      return true;
    }
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s [%d]: Error - %s", fn, __LINE__, strerror(r));
  }
  int r = pthread_create(&rxThread, nullptr, rtpRecvTask, nullptr);
  if (r != 0) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s [%d]: Error - %s", fn, __LINE__, strerror(r));
    return false;
  }
  pthread_setname_np(rxThread, "voice-RTP");
  return true;
}

}  // namespace

int rtpInit(void) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (running) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Already running\n", "rtpInit");
    return -1;
  }
  for (int i = 0; i < RTP_MAX_SESSIONS; i++) {
    memset(&sessions[i], 0, sizeof(sessions[i]));
    clearStream(&sessions[i].rtp, i);
    clearStream(&sessions[i].rtcp, i);
  }
  epollFd = epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: unable to create epoll fd\n", "rtpInit");
    return -1;
  }
  wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = WAKE_KEY;
  epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
  stopRequested = false;
  if (!startThread()) {
    close(wakeFd);
    close(epollFd);
    epollFd = wakeFd = -1;
    return -1;
  }
  running = true;
  return 0;
}

int rtpDeinit(void) {
  {
    std::lock_guard<std::recursive_mutex> g(tableLock);
    if (!running) return 0;
    stopRequested = true;
    uint64_t one = 1;
    ssize_t ignored = write(wakeFd, &one, sizeof one);
    (void)ignored;
  }
  pthread_join(rxThread, nullptr);
  std::lock_guard<std::recursive_mutex> g(tableLock);
  for (int i = 0; i < RTP_MAX_SESSIONS; i++) {
    int h = i;
    if (sessions[i].enabled) rtpClose(&h);
  }
  close(wakeFd);
  close(epollFd);
  epollFd = wakeFd = -1;
  running = false;
  return 0;
}

int rtpOpen(uint16_t rtp_port, uint16_t rtcp_port, const VOS_IP_ADDRESS* local_addr,
            RTPRECVCB rtp_cb, RTPRECVCB rtcp_cb, uint8_t tos, int* handle) {
  static const char fn[] = "rtpOpen";
  std::lock_guard<std::recursive_mutex> g(tableLock);
  int h = 0;
  while (h < RTP_MAX_SESSIONS && sessions[h].enabled) h++;
  if (h == RTP_MAX_SESSIONS || !running) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: No room in table to allocate new session\n", fn);
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Error while allocating new session\n", fn);
    return RTP_NORSC;
  }
  session_cfg& s = sessions[h];
  s.enabled = 1;
  bool opened = false;
  if (rtp_cb && rtp_port > 0) {
    if (openStream(&s.rtp, rtp_port, local_addr, rtp_cb, tos, false) != 0) {
      RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Error while opening RTP stream\n", fn);
      s.enabled = 0;
      return RTP_NETFAIL;
    }
    opened = true;
  }
  if (rtcp_cb && rtcp_port > 0) {
    if (openStream(&s.rtcp, rtcp_port, local_addr, rtcp_cb, tos, true) != 0) {
      RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Error while opening RTCP stream\n", fn);
      closeStream(&s.rtp);
      s.enabled = 0;
      return RTP_NETFAIL;
    }
    opened = true;
  }
  if (!opened)
    RTP_LOG(VOICE_LOGLEVEL_NOTICE, "%s: No callbacks defined for either RTP or RTCP\n", fn);
  memset(&s.rtcpstats, 0, sizeof(s.rtcpstats));
  *handle = h;
  return RTP_SUCCESS;
}

int rtpUpdate(uint16_t rtp_port, uint16_t rtcp_port, const VOS_IP_ADDRESS* local_addr,
              RTPRECVCB rtp_cb, RTPRECVCB rtcp_cb, uint8_t tos, int handle) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (!validHandle("rtpUpdate", handle)) return -1;
  session_cfg& s = sessions[handle];
  struct Change {
    stream_cfg* stream;
    uint16_t port;
    RTPRECVCB cb;
    bool rtcp;
  } changes[] = {{&s.rtp, rtp_port, rtp_cb, false}, {&s.rtcp, rtcp_port, rtcp_cb, true}};
  for (const Change& c : changes) {
    if (c.stream->port == htons(c.port) && c.stream->data_cb == c.cb) continue;
    closeStream(c.stream);
    if (c.cb && c.port > 0 && openStream(c.stream, c.port, local_addr, c.cb, tos, c.rtcp) != 0)
      return -1;
  }
  return 0;
}

namespace {
int setRemote(const char* fn, stream_cfg session_cfg::*which, int handle,
              const VOS_IP_ADDRESS* addr, uint16_t port) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (!validHandle(fn, handle)) return -1;
  stream_cfg& s = sessions[handle].*which;
  s.remote_addr_len = buildAddr(addr, htons(port), &s.remote_addr);
  return s.remote_addr_len ? 0 : -1;
}

int sendOn(const char* fn, stream_cfg session_cfg::*which, int handle, const uint8_t* packet,
           int length) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (!validHandle(fn, handle)) return -1;
  stream_cfg& s = sessions[handle].*which;
  if (s.fd < 0 || s.remote_addr_len == 0) {
    RTP_LOG(VOICE_LOGLEVEL_NOTICE, "%s: No socket for session %d\n", fn, handle);
    return -1;
  }
  if (sendto(s.fd, packet, static_cast<size_t>(length), 0,
             reinterpret_cast<const sockaddr*>(&s.remote_addr),
             static_cast<socklen_t>(s.remote_addr_len)) < 0) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s: Send packet failed( %s ).\n", fn, strerror(errno));
    return -1;
  }
  return 0;
}
}  // namespace

int rtpSetRTPRemote(int handle, const VOS_IP_ADDRESS* addr, uint16_t port) {
  return setRemote("rtpSetRTPRemote", &session_cfg::rtp, handle, addr, port);
}

int rtpSetRTCPRemote(int handle, const VOS_IP_ADDRESS* addr, uint16_t port) {
  return setRemote("rtpSetRTCPRemote", &session_cfg::rtcp, handle, addr, port);
}

int rtpSend(int handle, const uint8_t* packet, int length, uint8_t) {
  return sendOn("rtpSend", &session_cfg::rtp, handle, packet, length);
}

int rtcpSend(int handle, const uint8_t* packet, int length) {
  return sendOn("rtcpSend", &session_cfg::rtcp, handle, packet, length);
}

int rtpClose(int* handle) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (!handle || !validHandle("rtpClose", *handle)) return -1;
  session_cfg& s = sessions[*handle];
  closeStream(&s.rtp);
  closeStream(&s.rtcp);
  s.enabled = 0;
  return 0;
}

int rtpCompareSSRC(int handle, uint32_t ssrc) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (handle < 0 || handle >= RTP_MAX_SESSIONS) return 0;
  uint32_t saved = sessions[handle].rtp.ssrc;
  if (saved == 0 || saved == ssrc) return 1;
  RTP_LOG(VOICE_LOGLEVEL_INFO, "rtpCompareSSRC, savedSSRC = %d, passinSSRC = %d\n",
          static_cast<int>(saved), static_cast<int>(ssrc));
  return 0;
}

int rtpGetRtcpStats(int handle, rtcpstats_t* stats) {
  std::lock_guard<std::recursive_mutex> g(tableLock);
  if (!validHandle("rtpGetRtcpStats", handle)) return -1;
  *stats = sessions[handle].rtcpstats;
  dumpSessionRtcpStats(handle, *stats);
  return 0;
}

void rtcpProcess(int handle, const uint8_t* data, int length) {
  if (handle < 0 || handle >= RTP_MAX_SESSIONS) return;
  if (length < RTCP_MIN_PACKET) {
    RTP_LOG(VOICE_LOGLEVEL_ERROR, "%s:Unexpected packet, len=%d, sizeof(rtcppacket_t)=%u\n",
            "rtcpProcess", length, static_cast<unsigned>(RTCP_MIN_PACKET));
    return;
  }
  std::lock_guard<std::recursive_mutex> g(tableLock);
  rtcpstats_t* st = &sessions[handle].rtcpstats;
  int version = data[0] >> 6;
  int type = data[1];
  if (version != 2 || (type != 200 && type != 201)) return;
  if (type == 200) {
    // Sender info follows the sender's SSRC: NTP time, RTP time, packet and octet counts.
    st->rtcpSRRecv++;
    st->lastntpsec = be32(data + 8);
    st->lastntpfrac = be32(data + 12);
    uint32_t packets = be32(data + 20);
    uint32_t octets = be32(data + 24);
    st->dwRemotePacketSent = packets - st->dwPrevCumRemotePacketSent;
    st->dwRemoteOctetSent = octets - st->dwPrevCumRemoteOctetSent;
    st->dwPrevCumRemotePacketSent = packets;
    st->dwPrevCumRemoteOctetSent = octets;
    if ((data[0] & 0x1F) > 0) processReportBlock(st, data + 28);
  } else if ((data[0] & 0x1F) > 0) {
    processReportBlock(st, data + 8);
  }
  RTP_LOG(VOICE_LOGLEVEL_DEBUG, "%s: session %d type %d len %d\n", "rtcpProcess", handle, type,
          length);
}
