// libFuzzer target: configuration text that reads must write back as text that reads to the
// same configuration.
#include <string>

#include "uci_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    uci::Config first;
    uci::ParseError err;
    if (!uci::parse(text, first, err)) return 0;
    std::string written = uci::format(first);
    uci::Config second;
    if (!uci::parse(written, second, err) || uci::format(second) != written) __builtin_trap();
    for (uci::Section &s : first.sections) {
        if (first.find(s.name) == nullptr) __builtin_trap();
        first.find("@" + s.type + "[-1]");
    }
    return 0;
}
