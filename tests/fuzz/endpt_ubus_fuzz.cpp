// The daemon's "endpt" object: every method's message, built from the input either as arbitrary
// bytes or as fields of arbitrary types and values, handed to the method as the bus would hand
// it (over the endpoint-library test double, without a bus connection).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <libubox/blobmsg.h>

// The methods and the outgoing-request table are private to these two files (the peers' look-ups
// are linked as they are).
#include "../../src/ubus.cpp"
#include "../../src/ubus_out.cpp"

#include "fuzz_input.h"

namespace {

bool setUp() {
  ::setenv("ORVOX_FAKE_LINES", "dect,fxs,fxs,fxo", 1);
  ::setenv("hw_board_hasDect", "1", 1);
  ::setenv("ORVOX_NO_RT", "1", 1);
  // The library test double narrates every call: keep the fuzzer's output readable.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  tinyBase = tl_base_new();
  outstandingReqs = tl_list_new();
  if (lineEarlyInit() != 0 || getLineCounts(&epInfo) != 0 || lineInit() != 0 ||
      connectionInit() != 0) {
    std::abort();
  }
  // The test double's threads end with the library, before the program's own teardown.
  std::atexit([] { vrgEndptDeinit(); });
  return true;
}

const char* const kNames[] = {"line", "signal", "state", "data", "id", "action", "effective",
                              "terminal", "add", "release", "cid", ""};
const char* const kWords[] = {"on", "off", "0", "1", "ringing", "callid", "keypad", "dial",
                              "create", "destroy", "conference", "12R#", "dtmf5", "busy", ""};

// The numbers at the edges of every range a method checks, which random words seldom hit.
const int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1, -2, -1, 0, 1, 2, 3, 4, 5,
                          INT32_MAX - 1, INT32_MAX};

// A table of fields whose names, types and values come from the input.
void addFields(FuzzInput& in, blob_buf* b) {
  const int fields = in.byte() % 6;
  for (int f = 0; f < fields && !in.empty(); ++f) {
    const char* name = kNames[in.byte() % (sizeof kNames / sizeof kNames[0])];
    switch (in.byte() % 7) {
      case 6:
        blobmsg_add_u32(b, name, static_cast<uint32_t>(kEdges[in.byte() % (sizeof kEdges / sizeof kEdges[0])]));
        break;
      case 0: blobmsg_add_u32(b, name, static_cast<uint32_t>(static_cast<int8_t>(in.byte()))); break;
      case 1: blobmsg_add_u32(b, name, in.word() | static_cast<uint32_t>(in.word()) << 16); break;
      case 2: blobmsg_add_string(b, name, kWords[in.byte() % (sizeof kWords / sizeof kWords[0])]); break;
      case 3: {
        char text[120];
        const size_t n = in.take(text, in.byte() % (sizeof text - 1));
        text[n] = '\0';
        blobmsg_add_string(b, name, text);
        break;
      }
      case 4: blobmsg_add_u8(b, name, in.byte()); break;
      default: {
        void* nested = blobmsg_open_table(b, name);
        blobmsg_add_u32(b, "line", in.byte());
        blobmsg_close_table(b, nested);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setUp();
  (void)ready;
  FuzzInput in(data, size);
  while (!in.empty()) {
    const ubus_method& method = rpc_methods[in.byte() % (sizeof rpc_methods / sizeof rpc_methods[0])];
    cordhub_id = in.byte() & 1 ? 0x1234 : 0;
    blob_buf b{};
    blob_buf_init(&b, 0);
    if (in.byte() & 1) {
      addFields(in, &b);
    } else {
      std::vector<uint8_t> raw(in.byte());
      raw.resize(in.take(raw.data(), raw.size()));
      blob_put_raw(&b, raw.data(), static_cast<unsigned>(raw.size()));
    }
    ubus_request_data req{};
    method.handler(nullptr, &rpcObj, &req, method.name, b.head);
    blob_buf_free(&b);
  }
  return 0;
}
