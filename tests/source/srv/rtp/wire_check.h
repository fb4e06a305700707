// Wire checks with an independent dissector: packets are written to a capture file as UDP
// datagrams and dissected by tshark, whose fields the tests read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtptest {

bool tsharkAvailable();

// Writes the datagrams as Ethernet/IPv4/UDP frames from port `srcPort` to `srcPort + 2`.
void writeCapture(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams,
                  uint16_t srcPort);

struct Dissection {
  std::vector<std::vector<std::string>> rows;  // one row of the asked fields per frame
  int malformed = 0;                           // frames tshark found malformed or in error
  int frames = 0;
};

// Dissects the capture with `options` (decode-as rules, preferences) and prints `fields` per frame.
Dissection dissect(const std::string& path, const std::string& options,
                   const std::vector<std::string>& fields);

// A file name in the test's temporary directory.
std::string tempPath(const std::string& name);

}  // namespace rtptest
