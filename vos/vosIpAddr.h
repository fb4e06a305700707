// Protocol-neutral IP addresses of the OS abstraction layer: IPv4 or IPv6 bytes in network order,
// with text conversion in both directions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vosTypes.h"

typedef enum : int {
  VOS_IPADDRESS_TYPE_V4 = 0,
  VOS_IPADDRESS_TYPE_V6 = 1,
} VOS_IP_ADDRESS_TYPE;

typedef struct {
  uint8_t u8[4];
} VOS_IP_ADDRESS_V4;

typedef struct {
  uint8_t u8[16];
} VOS_IP_ADDRESS_V6;

typedef struct {
  VOS_IP_ADDRESS_TYPE ipType;
  union {
    VOS_IP_ADDRESS_V4 ipv4;
    VOS_IP_ADDRESS_V6 ipv6;
  } u;
} VOS_IP_ADDRESS;

// Text lengths including the terminator.
constexpr int VOS_IPV4_STR_SIZE = 16;
constexpr int VOS_IPV6_STR_SIZE = 46;

VOS_STATUS vosIpAddrCreateFromStr(const char* text, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrCreateFromU8(VOS_IP_ADDRESS_TYPE type, const uint8_t* bytes,
                                 VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrCreateFromNumU8(const uint8_t* bytes, int count, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrV4CreateFromU32(uint32_t hostOrder, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrCreateCopy(const VOS_IP_ADDRESS* from, VOS_IP_ADDRESS* to);
VOS_STATUS vosIpAddrCreateZero(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrCreateAny(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrCreateLoopback(VOS_IP_ADDRESS_TYPE type, VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrDestroy(VOS_IP_ADDRESS* addr);

VOS_STATUS vosIpAddrGetStr(const VOS_IP_ADDRESS* addr, char* buf, int size);
VOS_STATUS vosIpAddrGetU8(const VOS_IP_ADDRESS* addr, uint8_t* bytes, int size, int* count);
VOS_STATUS vosIpAddrV4GetU32(const VOS_IP_ADDRESS* addr, uint32_t* hostOrder);
VOS_STATUS vosIpAddrV6CreateFromV4(const VOS_IP_ADDRESS* v4, VOS_IP_ADDRESS* v6);
// The leading `bits` of an IPv6 address, the rest zero.
VOS_STATUS vosIpAddrV6GetNetworkPrefix(const VOS_IP_ADDRESS* addr, int bits,
                                       VOS_IP_ADDRESS* prefix);
VOS_BOOL vosIpAddrIsEqual(const VOS_IP_ADDRESS* a, const VOS_IP_ADDRESS* b);
VOS_BOOL vosIpAddrIsZero(const VOS_IP_ADDRESS* addr);
VOS_BOOL vosIpAddrIsLoopback(const VOS_IP_ADDRESS* addr);
VOS_STATUS vosIpAddrPrint(const VOS_IP_ADDRESS* addr);

// Text conversion of one family; 1 on success, 0 on malformed input.
int vrk_inet_pton4(const char* text, uint8_t* out);
int vrk_inet_pton6(const char* text, uint8_t* out);
const char* vrk_inet_ntop4(const uint8_t* bytes, char* buf, size_t size);
const char* vrk_inet_ntop6(const uint8_t* bytes, char* buf, size_t size);
