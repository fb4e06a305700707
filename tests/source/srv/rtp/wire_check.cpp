#include "wire_check.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rtptest {

bool tsharkAvailable() { return std::system("tshark -v > /dev/null 2>&1") == 0; }

std::string tempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/rtpsrv_" + std::to_string(getpid()) + "_" + name;
}

namespace {

void put32le(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void put16le(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
void put16be(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v));
}

}  // namespace

void writeCapture(const std::string& path, const std::vector<std::vector<uint8_t>>& datagrams,
                  uint16_t srcPort) {
  std::string out;
  put32le(out, 0xA1B2C3D4);
  put16le(out, 2);
  put16le(out, 4);
  put32le(out, 0);
  put32le(out, 0);
  put32le(out, 65535);
  put32le(out, 1);  // Ethernet
  uint32_t usec = 0;
  for (const std::vector<uint8_t>& d : datagrams) {
    std::string frame;
    frame.append("\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00", 14);
    const uint16_t ipLength = static_cast<uint16_t>(20 + 8 + d.size());
    std::string ip;
    ip.push_back(0x45);
    ip.push_back(0);
    put16be(ip, ipLength);
    put16be(ip, 0);
    put16be(ip, 0x4000);
    ip.push_back(64);
    ip.push_back(17);
    put16be(ip, 0);
    ip.append("\x0a\x00\x00\x01\x0a\x00\x00\x02", 8);
    uint32_t sum = 0;
    for (size_t i = 0; i < ip.size(); i += 2) sum += (uint8_t(ip[i]) << 8) | uint8_t(ip[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t checksum = static_cast<uint16_t>(~sum);
    ip[10] = static_cast<char>(checksum >> 8);
    ip[11] = static_cast<char>(checksum);
    frame += ip;
    put16be(frame, srcPort);
    put16be(frame, static_cast<uint16_t>(srcPort + 2));
    put16be(frame, static_cast<uint16_t>(8 + d.size()));
    put16be(frame, 0);
    frame.append(reinterpret_cast<const char*>(d.data()), d.size());
    usec += 20000;
    put32le(out, 1000 + usec / 1000000);
    put32le(out, usec % 1000000);
    put32le(out, static_cast<uint32_t>(frame.size()));
    put32le(out, static_cast<uint32_t>(frame.size()));
    out += frame;
  }
  std::ofstream(path, std::ios::binary) << out;
}

Dissection dissect(const std::string& path, const std::string& options,
                   const std::vector<std::string>& fields) {
  Dissection result;
  std::string cmd = "tshark -n -r '" + path + "' " + options +
                    " -T fields -E separator='|' -E occurrence=a -E aggregator=,";
  cmd += " -e _ws.malformed -e _ws.expert.severity";
  for (const std::string& f : fields) cmd += " -e " + f;
  cmd += " 2>/dev/null";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return result;
  char line[65536];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    std::vector<std::string> cols;
    std::stringstream ss(s);
    std::string col;
    while (std::getline(ss, col, '|')) cols.push_back(col);
    while (cols.size() < fields.size() + 2) cols.emplace_back();
    ++result.frames;
    // Error-level expert items (severity 8388608) mark packets that break their protocol.
    if (!cols[0].empty() || cols[1].find("8388608") != std::string::npos) ++result.malformed;
    result.rows.emplace_back(cols.begin() + 2, cols.end());
  }
  pclose(pipe);
  return result;
}

}  // namespace rtptest
