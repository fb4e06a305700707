// Test helpers: byte strings written in the notation of the wire captures.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

// "84 00 00 14 | 00 03 \"big\" 00" -> bytes: hex pairs, quoted ASCII (no NUL), '|' ignored.
inline std::vector<uint8_t> wireBytes(const std::string &text) {
    std::vector<uint8_t> out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        if (tok == "|") continue;
        if (tok.size() >= 2 && tok.front() == '"' && tok.back() == '"') {
            for (size_t i = 1; i + 1 < tok.size(); i++) out.push_back(static_cast<uint8_t>(tok[i]));
        } else {
            out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
        }
    }
    return out;
}

inline std::vector<uint8_t> bytesOf(const void *data, size_t len) {
    auto *p = static_cast<const uint8_t *>(data);
    return std::vector<uint8_t>(p, p + len);
}
