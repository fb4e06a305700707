// IP address text conversion against the C library, and a loopback socket pair.

#include <arpa/inet.h>

#include <cstring>
#include <random>
#include <string>

#include "vosTestSupport.h"

namespace {

std::string v4Text(const uint8_t* b) {
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

TEST(VosIpAddrText, RandomIpv4AddressesMatchTheCLibraryBothWays) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; i++) {
    uint8_t b[4];
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    std::string text = v4Text(b);
    VOS_IP_ADDRESS addr;
    ASSERT_EQ(vosIpAddrCreateFromStr(text.c_str(), &addr), VOS_STATUS_OK) << text;
    uint8_t ref[4];
    ASSERT_EQ(inet_pton(AF_INET, text.c_str(), ref), 1);
    EXPECT_EQ(memcmp(addr.u.ipv4.u8, ref, 4), 0) << text;
    char out[VOS_IPV4_STR_SIZE];
    ASSERT_EQ(vosIpAddrGetStr(&addr, out, sizeof out), VOS_STATUS_OK);
    EXPECT_EQ(text, out);
  }
}

TEST(VosIpAddrText, RandomIpv6AddressesMatchTheCLibraryBothWays) {
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; i++) {
    uint8_t b[16];
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    // Runs of zero groups in various places, to exercise "::".
    int zeros = static_cast<int>(rng() % 9);
    int at = static_cast<int>(rng() % (9 - zeros));
    memset(b + 2 * at, 0, static_cast<size_t>(2 * zeros));
    bool firstTwelveZero = true;
    for (int k = 0; k < 12; k++) firstTwelveZero &= b[k] == 0;

    char ref[INET6_ADDRSTRLEN];
    ASSERT_NE(inet_ntop(AF_INET6, b, ref, sizeof ref), nullptr);
    VOS_IP_ADDRESS addr;
    ASSERT_EQ(vosIpAddrCreateFromU8(VOS_IPADDRESS_TYPE_V6, b, &addr), VOS_STATUS_OK);
    char out[VOS_IPV6_STR_SIZE];
    ASSERT_EQ(vosIpAddrGetStr(&addr, out, sizeof out), VOS_STATUS_OK);
    if (firstTwelveZero) {
      // Stated difference: every address with twelve leading zero bytes prints as ::a.b.c.d.
      EXPECT_EQ(std::string(out), "::" + v4Text(b + 12));
    } else {
      EXPECT_STREQ(out, ref);
    }
    VOS_IP_ADDRESS back;
    ASSERT_EQ(vosIpAddrCreateFromStr(ref, &back), VOS_STATUS_OK) << ref;
    EXPECT_TRUE(vosIpAddrIsEqual(&addr, &back)) << ref;
  }
}

TEST(VosIpAddrText, MalformedTextIsRefused) {
  VOS_IP_ADDRESS addr;
  for (const char* bad : {"256.1.1.1", "1.2.3.300", "1.2.3", "1.2.3.4.5", "1..2.3", "a.b.c.d",
                          "1.2.3.4 ", "1111.2.3.4", "", "12345::", ":::", "1:2:3:4:5:6:7:8:9",
                          "1::2::3", "12345::1", "fe80::g", "1:2:3:4:5:6:7:", "plain"})
    EXPECT_EQ(vosIpAddrCreateFromStr(bad, &addr), VOS_STATUS_ERR) << bad;
  ASSERT_EQ(vosIpAddrCreateFromStr("::ffff:10.1.2.3", &addr), VOS_STATUS_OK);
  EXPECT_EQ(addr.u.ipv6.u8[10], 0xFF);
  EXPECT_EQ(addr.u.ipv6.u8[15], 3);
  ASSERT_EQ(vosIpAddrCreateFromStr("fe80::1/64", &addr), VOS_STATUS_OK);
  EXPECT_EQ(addr.u.ipv6.u8[0], 0xFE);
}

TEST(VosIpAddrText, ShortBuffersGetNothing) {
  VOS_IP_ADDRESS addr;
  ASSERT_EQ(vosIpAddrCreateFromStr("10.0.0.1", &addr), VOS_STATUS_OK);
  char small[8] = "keep";
  EXPECT_EQ(vosIpAddrGetStr(&addr, small, sizeof small), VOS_STATUS_ERR);
  EXPECT_STREQ(small, "keep");
  addr.ipType = static_cast<VOS_IP_ADDRESS_TYPE>(7);
  char out[64];
  EXPECT_EQ(vosIpAddrGetStr(&addr, out, sizeof out), VOS_STATUS_ERR);
  EXPECT_STREQ(out, "Unknown");
}

TEST(VosIpAddr, LoopbackIsRecognisedByItsBytes) {
  VOS_IP_ADDRESS a;
  ASSERT_EQ(vosIpAddrCreateFromStr("0:0:0:0:0:0:0:1", &a), VOS_STATUS_OK);
  EXPECT_TRUE(vosIpAddrIsLoopback(&a));
  ASSERT_EQ(vosIpAddrCreateFromStr("127.0.0.1", &a), VOS_STATUS_OK);
  EXPECT_TRUE(vosIpAddrIsLoopback(&a));
  ASSERT_EQ(vosIpAddrCreateFromStr("127.0.0.2", &a), VOS_STATUS_OK);
  EXPECT_FALSE(vosIpAddrIsLoopback(&a));
}

TEST(VosIpAddr, ConversionsBetweenForms) {
  VOS_IP_ADDRESS v4, v6, prefix;
  ASSERT_EQ(vosIpAddrV4CreateFromU32(0xC0A80102u, &v4), VOS_STATUS_OK);
  char text[VOS_IPV6_STR_SIZE];
  vosIpAddrGetStr(&v4, text, sizeof text);
  EXPECT_STREQ(text, "192.168.1.2");
  uint32_t back = 0;
  ASSERT_EQ(vosIpAddrV4GetU32(&v4, &back), VOS_STATUS_OK);
  EXPECT_EQ(back, 0xC0A80102u);
  ASSERT_EQ(vosIpAddrV6CreateFromV4(&v4, &v6), VOS_STATUS_OK);
  vosIpAddrGetStr(&v6, text, sizeof text);
  EXPECT_STREQ(text, "::ffff:c0a8:102");
  EXPECT_EQ(vosIpAddrV4GetU32(&v6, &back), VOS_STATUS_ERR);
  ASSERT_EQ(vosIpAddrCreateFromStr("2001:db8:abcd:1234::1", &v6), VOS_STATUS_OK);
  ASSERT_EQ(vosIpAddrV6GetNetworkPrefix(&v6, 36, &prefix), VOS_STATUS_OK);
  vosIpAddrGetStr(&prefix, text, sizeof text);
  EXPECT_STREQ(text, "2001:db8:a000::");
  VOS_IP_ADDRESS zero;
  ASSERT_EQ(vosIpAddrCreateZero(VOS_IPADDRESS_TYPE_V6, &zero), VOS_STATUS_OK);
  EXPECT_TRUE(vosIpAddrIsZero(&zero));
}

using VosSocketTest = VosTest;

TEST_F(VosSocketTest, UdpLoopbackPairExchangesDatagrams) {
  VOS_SOCKET a, b;
  ASSERT_EQ(vosSocketCreate(AF_INET, SOCK_DGRAM, 0, &a), VOS_STATUS_OK);
  ASSERT_EQ(vosSocketCreate(AF_INET, SOCK_DGRAM, 0, &b), VOS_STATUS_OK);
  VOS_IP_ADDRESS lo;
  vosIpAddrCreateLoopback(VOS_IPADDRESS_TYPE_V4, &lo);
  ASSERT_EQ(vosSocketBindIp(&b, &lo, 0), VOS_STATUS_OK);
  VOS_SOCKET_ADDR_STORAGE bound;
  ASSERT_EQ(vosSocketGetName(&b, &bound), VOS_STATUS_OK);
  VOS_IP_ADDRESS ip;
  uint16_t port = 0;
  ASSERT_EQ(vosSocketAddrGetIpInfo(&bound, &ip, &port, nullptr), VOS_STATUS_OK);
  ASSERT_NE(port, 0);

  int sent = 0;
  ASSERT_EQ(vosSocketSendToIp(&a, "hello", 5, 0, &lo, port, &sent), VOS_STATUS_OK);
  EXPECT_EQ(sent, 5);
  fd_set rs;
  FD_ZERO(&rs);
  FD_SET(b.s, &rs);
  int ready = 0;
  ASSERT_EQ(vosSocketSelect(b.s + 1, &rs, nullptr, nullptr, 2000, &ready), VOS_STATUS_OK);
  EXPECT_EQ(ready, 1);
  char buf[16] = {};
  int got = 0;
  VOS_IP_ADDRESS from;
  uint16_t fromPort = 0;
  ASSERT_EQ(vosSocketRecvFromIp(&b, buf, sizeof buf, 0, &from, &fromPort, &got), VOS_STATUS_OK);
  EXPECT_EQ(got, 5);
  EXPECT_STREQ(buf, "hello");
  EXPECT_TRUE(vosIpAddrIsLoopback(&from));

  FD_SET(b.s, &rs);
  EXPECT_EQ(vosSocketSelect(b.s + 1, &rs, nullptr, nullptr, 10, &ready), VOS_STATUS_TIMEOUT);
  EXPECT_FALSE(FD_ISSET(b.s, &rs));  // the sets are cleared on time-out
  EXPECT_EQ(vosSocketClose(&a), VOS_STATUS_OK);
  EXPECT_EQ(vosSocketClose(&b), VOS_STATUS_OK);
}

TEST_F(VosSocketTest, FailuresAreReportedAsErrors) {
  VOS_SOCKET s;
  EXPECT_EQ(vosSocketCreate(12345, SOCK_STREAM, 0, &s), VOS_STATUS_ERR);
  VOS_SOCKET bad{-1, 0, AF_INET};
  EXPECT_EQ(vosSocketListen(&bad, 1), VOS_STATUS_ERR);
  EXPECT_EQ(vosSocketSetNonBlocking(&bad, 1), VOS_STATUS_ERR);
}

TEST(VosSocketLookup, ServerAndPortTextIsCheckedWithClearMessages) {
  VOS_IP_ADDRESS ip;
  uint16_t port = 0;
  char msg[128] = "";
  ASSERT_EQ(vosSocketLookupServerAndPort("10.1.2.3:5060", &ip, &port, msg, sizeof msg),
            VOS_STATUS_OK);
  EXPECT_EQ(port, 5060);
  EXPECT_EQ(ip.u.ipv4.u8[3], 3);
  EXPECT_EQ(vosSocketLookupServerAndPort("10.1.2.3:0", &ip, &port, msg, sizeof msg),
            VOS_STATUS_ERR);
  EXPECT_STREQ(msg, "Expecting port to be between 1 and 65535; Found: 0");
  EXPECT_EQ(vosSocketLookupServerAndPort("10.1.2.3:x1", &ip, &port, msg, sizeof msg),
            VOS_STATUS_ERR);
  EXPECT_STREQ(msg, "Expecting a positive numeric port specifier; Found 'x1'");
  EXPECT_EQ(vosSocketLookupServerAndPort("10.1.2.300", &ip, &port, msg, sizeof msg),
            VOS_STATUS_ERR);
  EXPECT_STREQ(msg, "Expecting a positive number between 0 and 255, found: '300'");
  EXPECT_EQ(vosSocketLookupServerAndPort("10.1.2", &ip, &port, msg, sizeof msg), VOS_STATUS_ERR);
  EXPECT_STREQ(msg, "Expecting IP address of the form a.b.c.d, found: '10.1.2'");
  ASSERT_EQ(vosSocketLookupServerAndPort("localhost:80", &ip, &port, msg, sizeof msg),
            VOS_STATUS_OK);
  EXPECT_TRUE(vosIpAddrIsLoopback(&ip));
}

}  // namespace
