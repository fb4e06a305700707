// Country profiles: the tokenizer on arbitrary bytes fed in arbitrary chunks (names within the
// cache, a document that ends stops it), then the whole loader on the same bytes as a profile
// file, writing into the provisioning store.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "nxml.h"
#include "telProfile.h"
#include "vrgProv.h"

namespace {

void name(nxml_t h, const char*, int length) {
  if (length < 0 || length > NXML_MAX_NAME) std::abort();
  (void)h;
}
void text(nxml_t, const char*, int length, int) {
  if (length < 0) std::abort();
}
const nxml_settings kSettings = {name, name, text, text, name};

std::string profileDir() {
  static std::string dir = [] {
    char pattern[] = "/tmp/orvox_profile_fuzz_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) std::abort();
    ::setenv("ORVOX_PROFILE_DIR", made, 1);
    return std::string(made);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 64;
  nxml_t h = nullptr;
  if (!xmlOpen(&h, &kSettings, nullptr)) std::abort();
  for (size_t at = 1; at < size; at += chunk) {
    const char* end = nullptr;
    if (xmlWrite(h, reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at), &end)) break;
  }
  xmlClose(h);

  const std::string path = profileDir() + "/SWE_profile.xml";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  endptProvInit();
  tpUpdateLocaleProfile(VRG_COUNTRY_SWEDEN);
  (void)tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN);
  endptProvDeinit();
  return 0;
}
