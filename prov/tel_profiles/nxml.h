// A small callback tokenizer for the telephony profile files: it reports tag starts and ends,
// attribute names and values and text, and stops when the root element closes. It accepts the
// document in one or several chunks; names split across chunks are kept in a bounded cache.
#pragma once

#include <cstddef>

struct nxml_handle;
typedef nxml_handle* nxml_t;

// `more` is 1 when the text (or attribute value) continues in the next chunk of input.
struct nxml_settings {
  void (*tag_begin)(nxml_t handle, const char* name, int length);
  void (*attribute_begin)(nxml_t handle, const char* name, int length);
  void (*attribute_value)(nxml_t handle, const char* value, int length, int more);
  void (*data)(nxml_t handle, const char* text, int length, int more);
  void (*tag_end)(nxml_t handle, const char* name, int length);
};

// Longest tag or attribute name, in characters; a longer one is reported cut to this length
// with xmlNameOverflow() true.
inline constexpr int NXML_NAME_CACHE_SIZE = 128;
inline constexpr int NXML_MAX_NAME = NXML_NAME_CACHE_SIZE - 1;

// 1 on success, 0 when the handle cannot be allocated. `user` is handed back by xmlUser().
int xmlOpen(nxml_t* handle, const nxml_settings* settings, void* user = nullptr);
// Feeds `length` bytes. Returns 1 once the root element has closed (the rest of the input is not
// read; *end, when given, points just past the root's end), else 0.
int xmlWrite(nxml_t handle, const char* buffer, size_t length, const char** end);
void xmlClose(nxml_t handle);

void* xmlUser(nxml_t handle);
// True while the name being reported was longer than NXML_MAX_NAME.
bool xmlNameOverflow(nxml_t handle);
