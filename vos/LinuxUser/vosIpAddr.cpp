// IP addresses: creation, text conversion, comparison and printing.

#include "vosIpAddr.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "voiceLog.h"

namespace {

constexpr size_t V4_TEXT_MAX = 15;
constexpr size_t V6_TEXT_MAX = 45;

bool knownType(VOS_IP_ADDRESS_TYPE type) {
  return type == VOS_IPADDRESS_TYPE_V4 || type == VOS_IPADDRESS_TYPE_V6;
}

int byteCount(VOS_IP_ADDRESS_TYPE type) { return type == VOS_IPADDRESS_TYPE_V4 ? 4 : 16; }

VOS_STATUS unknownType(const char* function) {
  extVosLog(VOS_LOGLEVEL_ERROR, "%s: type unknown.", function);
  return VOS_STATUS_ERR;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Longest run of zero groups (at least two), the first one on a tie; start -1 when none.
void longestZeroRun(const uint16_t* groups, int* start, int* length) {
  *start = -1;
  *length = 0;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      i++;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) j++;
    if (j - i > *length) {
      *start = i;
      *length = j - i;
    }
    i = j;
  }
  if (*length < 2) *start = -1;
}

}  // namespace

int vrk_inet_pton4(const char* text, uint8_t* out) {
  if (!text || strlen(text) > V4_TEXT_MAX) return 0;
  uint8_t bytes[4];
  int parts = 0;
  const char* p = text;
  for (;;) {
    if (!isdigit(static_cast<unsigned char>(*p))) return 0;
    const char* start = p;
    unsigned value = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
      value = value * 10 + static_cast<unsigned>(*p - '0');
      if (value > 255) return 0;  // never taken modulo 256
      p++;
    }
    // "00" and the like: a zero part must be written "0"-led as a single zero.
    if (value == 0 && *start != '0') return 0;
    if (parts == 4) return 0;
    bytes[parts++] = static_cast<uint8_t>(value);
    if (*p == '\0') break;
    if (*p != '.') return 0;
    p++;
  }
  if (parts != 4) return 0;
  memcpy(out, bytes, 4);
  return 1;
}

int vrk_inet_pton6(const char* text, uint8_t* out) {
  if (!text) return 0;
  char local[V6_TEXT_MAX + 1];
  size_t len = strcspn(text, "/");  // a prefix length and what follows are ignored
  if (len > V6_TEXT_MAX) return 0;
  memcpy(local, text, len);
  local[len] = '\0';

  uint8_t bytes[16] = {};
  int filled = 0;  // bytes written
  int gap = -1;    // byte index of "::"
  const char* p = local;
  if (p[0] == ':') {
    if (p[1] != ':') return 0;
    gap = 0;
    p += 2;
  }
  while (*p) {
    // A trailing dotted IPv4 part fills the last 32 bits.
    const char* dot = strchr(p, '.');
    const char* colon = strchr(p, ':');
    if (dot && !colon) {
      if (filled > 12 || !vrk_inet_pton4(p, bytes + filled)) return 0;
      filled += 4;
      p += strlen(p);
      break;
    }
    int digits = 0;
    unsigned value = 0;
    while (hexValue(*p) >= 0) {
      if (++digits > 4) return 0;
      value = value << 4 | static_cast<unsigned>(hexValue(*p));
      p++;
    }
    if (digits == 0 || filled > 14) return 0;
    bytes[filled++] = static_cast<uint8_t>(value >> 8);
    bytes[filled++] = static_cast<uint8_t>(value);
    if (*p == '\0') break;
    if (*p != ':') return 0;
    p++;
    if (*p == ':') {
      if (gap >= 0) return 0;  // only one "::"
      gap = filled;
      p++;
    } else if (*p == '\0') {
      return 0;  // a single trailing ':'
    }
  }
  if (gap >= 0) {
    if (filled == 16) return 0;
    int tail = filled - gap;
    memmove(bytes + 16 - tail, bytes + gap, static_cast<size_t>(tail));
    memset(bytes + gap, 0, static_cast<size_t>(16 - filled));
  } else if (filled != 16) {
    return 0;
  }
  memcpy(out, bytes, 16);
  return 1;
}

const char* vrk_inet_ntop4(const uint8_t* b, char* buf, size_t size) {
  if (size < static_cast<size_t>(VOS_IPV4_STR_SIZE)) return nullptr;
  snprintf(buf, size, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return buf;
}

const char* vrk_inet_ntop6(const uint8_t* b, char* buf, size_t size) {
  if (size < static_cast<size_t>(VOS_IPV6_STR_SIZE)) return nullptr;
  static const uint8_t zero12[12] = {};
  if (memcmp(b, zero12, 12) == 0) {
    char v4[VOS_IPV4_STR_SIZE];
    snprintf(buf, size, "::%s", vrk_inet_ntop4(b + 12, v4, sizeof v4));
    return buf;
  }
  uint16_t groups[8];
  for (int i = 0; i < 8; i++) groups[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
  int runStart, runLength;
  longestZeroRun(groups, &runStart, &runLength);
  char* out = buf;
  for (int i = 0; i < 8; i++) {
    if (i == runStart) {
      out += sprintf(out, "::");
      i += runLength - 1;
      continue;
    }
    if (i > 0 && out[-1] != ':') *out++ = ':';
    out += sprintf(out, "%x", groups[i]);
  }
  *out = '\0';
  return buf;
}

VOS_STATUS vosIpAddrCreateFromStr(const char* text, VOS_IP_ADDRESS* addr) {
  if (!text || !addr) return VOS_STATUS_ERR;
  if (strchr(text, '.') && !strchr(text, ':')) {
    if (!vrk_inet_pton4(text, addr->u.ipv4.u8)) return VOS_STATUS_ERR;
    addr->ipType = VOS_IPADDRESS_TYPE_V4;
    return VOS_STATUS_OK;
  }
  if (strchr(text, ':')) {
    if (!vrk_inet_pton6(text, addr->u.ipv6.u8)) return VOS_STATUS_ERR;
    addr->ipType = VOS_IPADDRESS_TYPE_V6;
    return VOS_STATUS_OK;
  }
  return VOS_STATUS_ERR;
}

VOS_STATUS vosIpAddrCreateFromU8(VOS_IP_ADDRESS_TYPE type, const uint8_t* bytes,
                                 VOS_IP_ADDRESS* addr) {
  if (!knownType(type)) return unknownType("vosIpAddrCreateFromU8");
  addr->ipType = type;
  memcpy(addr->u.ipv6.u8, bytes, static_cast<size_t>(byteCount(type)));
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrCreateFromNumU8(const uint8_t* bytes, int count, VOS_IP_ADDRESS* addr) {
  if (count == 4) return vosIpAddrCreateFromU8(VOS_IPADDRESS_TYPE_V4, bytes, addr);
  if (count == 16) return vosIpAddrCreateFromU8(VOS_IPADDRESS_TYPE_V6, bytes, addr);
  return VOS_STATUS_ERR;
}

VOS_STATUS vosIpAddrV4CreateFromU32(uint32_t hostOrder, VOS_IP_ADDRESS* addr) {
  addr->ipType = VOS_IPADDRESS_TYPE_V4;
  for (int i = 0; i < 4; i++) addr->u.ipv4.u8[i] = static_cast<uint8_t>(hostOrder >> (24 - 8 * i));
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrCreateCopy(const VOS_IP_ADDRESS* from, VOS_IP_ADDRESS* to) {
  *to = *from;
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrCreateZero(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr) {
  if (!knownType(type)) return unknownType("vosIpAddrCreateZero");
  memset(addr, 0, sizeof(*addr));
  addr->ipType = type;
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrCreateAny(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr) {
  if (!knownType(type)) return unknownType("vosIpAddrCreateAny");
  return vosIpAddrCreateZero(type, addr);
}

VOS_STATUS vosIpAddrCreateLoopback(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr) {
  if (!knownType(type)) return unknownType("vosIpAddrCreateLoopback");
  return vosIpAddrCreateFromStr(type == VOS_IPADDRESS_TYPE_V4 ? "127.0.0.1" : "::1", addr);
}

VOS_STATUS vosIpAddrDestroy(VOS_IP_ADDRESS*) { return VOS_STATUS_OK; }

VOS_STATUS vosIpAddrGetStr(const VOS_IP_ADDRESS* addr, char* buf, int size) {
  if (!buf || size <= 0) return VOS_STATUS_ERR;
  const char* text = nullptr;
  switch (addr->ipType) {
    case VOS_IPADDRESS_TYPE_V4:
      text = vrk_inet_ntop4(addr->u.ipv4.u8, buf, static_cast<size_t>(size));
      break;
    case VOS_IPADDRESS_TYPE_V6:
      text = vrk_inet_ntop6(addr->u.ipv6.u8, buf, static_cast<size_t>(size));
      break;
    default:
      snprintf(buf, static_cast<size_t>(size), "Unknown");
      return unknownType("vosIpAddrGetStr");
  }
  return text ? VOS_STATUS_OK : VOS_STATUS_ERR;
}

VOS_STATUS vosIpAddrGetU8(const VOS_IP_ADDRESS* addr, uint8_t* bytes, int size, int* count) {
  if (!knownType(addr->ipType)) return unknownType("vosIpAddrGetU8");
  int n = byteCount(addr->ipType);
  if (size < n) return VOS_STATUS_ERR;
  memcpy(bytes, addr->u.ipv6.u8, static_cast<size_t>(n));
  *count = n;
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrV4GetU32(const VOS_IP_ADDRESS* addr, uint32_t* hostOrder) {
  if (addr->ipType == VOS_IPADDRESS_TYPE_V6) {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s: v6 is not supported for this function.",
              "vosIpAddrV4GetU32");
    return VOS_STATUS_ERR;
  }
  if (addr->ipType != VOS_IPADDRESS_TYPE_V4) return unknownType("vosIpAddrV4GetU32");
  const uint8_t* b = addr->u.ipv4.u8;
  *hostOrder = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
               static_cast<uint32_t>(b[2]) << 8 | b[3];
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrV6CreateFromV4(const VOS_IP_ADDRESS* v4, VOS_IP_ADDRESS* v6) {
  if (v4->ipType != VOS_IPADDRESS_TYPE_V4) return VOS_STATUS_ERR;
  VOS_IP_ADDRESS mapped{};
  mapped.ipType = VOS_IPADDRESS_TYPE_V6;
  mapped.u.ipv6.u8[10] = 0xFF;
  mapped.u.ipv6.u8[11] = 0xFF;
  memcpy(mapped.u.ipv6.u8 + 12, v4->u.ipv4.u8, 4);
  *v6 = mapped;
  return VOS_STATUS_OK;
}

VOS_STATUS vosIpAddrV6GetNetworkPrefix(const VOS_IP_ADDRESS* addr, int bits,
                                       VOS_IP_ADDRESS* prefix) {
  if (addr->ipType != VOS_IPADDRESS_TYPE_V6 || bits < 0 || bits > 128) return VOS_STATUS_ERR;
  VOS_IP_ADDRESS out{};
  out.ipType = VOS_IPADDRESS_TYPE_V6;
  for (int i = 0; i < 16; i++) {
    int keep = bits - 8 * i;
    if (keep >= 8) out.u.ipv6.u8[i] = addr->u.ipv6.u8[i];
    else if (keep > 0) out.u.ipv6.u8[i] = addr->u.ipv6.u8[i] & static_cast<uint8_t>(0xFF << (8 - keep));
  }
  *prefix = out;
  return VOS_STATUS_OK;
}

VOS_BOOL vosIpAddrIsEqual(const VOS_IP_ADDRESS* a, const VOS_IP_ADDRESS* b) {
  if (a->ipType != b->ipType || !knownType(a->ipType)) return false;
  return memcmp(a->u.ipv6.u8, b->u.ipv6.u8, static_cast<size_t>(byteCount(a->ipType))) == 0;
}

VOS_BOOL vosIpAddrIsZero(const VOS_IP_ADDRESS* addr) {
  if (!knownType(addr->ipType)) return false;
  for (int i = 0; i < byteCount(addr->ipType); i++)
    if (addr->u.ipv6.u8[i]) return false;
  return true;
}

// Compares the address bytes with the loopback address of its type (text comparison would
// depend on how the text was written).
VOS_BOOL vosIpAddrIsLoopback(const VOS_IP_ADDRESS* addr) {
  VOS_IP_ADDRESS loopback;
  if (!knownType(addr->ipType) || vosIpAddrCreateLoopback(addr->ipType, &loopback) != VOS_STATUS_OK)
    return false;
  return vosIpAddrIsEqual(addr, &loopback);
}

VOS_STATUS vosIpAddrPrint(const VOS_IP_ADDRESS* addr) {
  const uint8_t* b = addr->u.ipv6.u8;
  switch (addr->ipType) {
    case VOS_IPADDRESS_TYPE_V4:
      extVosLog(VOS_LOGLEVEL_ALWAYS, "%d.%d.%d.%d.", b[0], b[1], b[2], b[3]);
      return VOS_STATUS_OK;
    case VOS_IPADDRESS_TYPE_V6: {
      if (vosIpAddrIsZero(addr)) {
        extVosLog(VOS_LOGLEVEL_ALWAYS, "::");
        return VOS_STATUS_OK;
      }
      char text[64];
      char* out = text;
      for (int i = 0; i < 8; i++)
        out += sprintf(out, i ? ":%x" : "%x", b[2 * i] << 8 | b[2 * i + 1]);
      extVosLog(VOS_LOGLEVEL_ALWAYS, "%s", text);
      return VOS_STATUS_OK;
    }
    default:
      return unknownType("vosIpAddrPrint");
  }
}
