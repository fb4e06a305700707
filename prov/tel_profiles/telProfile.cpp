// Profile loader: reads the country's profile file, runs it through the tokenizer and writes
// each complete item into the provisioning store for every endpoint. A problem in one item
// refuses that item with one error line (file, item, values) and the parse goes on; a refused
// simple item keeps the value the store holds or else its built-in one. A file that cannot be
// read or parsed to its end counts as no profile, and so does one that refuses an item that has
// no built-in value (a tone, a cadence, caller-ID parameters).

#include "telProfile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "boardHal.h"
#include "nxml.h"
#include "telProfileContext.h"
#include "telProfileMaps.h"
#include "voiceLog.h"
#include "vrgProv.h"
#include "vrgProvValues.h"

namespace {

constexpr const char* PROFILE_DEFAULT_DIR = "/etc/telephonyProfiles.d/";
constexpr const char* PROFILE_SUFFIX = "_profile.xml";
// Our profiles are a few tens of kilobytes; a file far beyond that is not a profile.
constexpr off_t PROFILE_MAX_FILE_SIZE = 1 << 20;

// The country whose profile the last load read without errors, -1 after a failed load.
std::atomic<int> lastLoadedCountry{-1};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tokenizer callbacks
// ---------------------------------------------------------------------------------------------

namespace {

PARSER_CONTEXT* tpContext(nxml_t handle) { return static_cast<PARSER_CONTEXT*>(xmlUser(handle)); }

bool tpInsideKnownTag(const PARSER_CONTEXT* ctx) {
  return ctx->ignoreTag == 0 && ctx->elementDepth > 0 &&
         ctx->elements[ctx->elementDepth - 1] == TpElementKind::PUSHED;
}

// Writes the finished value into the store for every endpoint.
void tpWriteItem(PARSER_CONTEXT* ctx) {
  for (int line = 0; line < ctx->numEndpoints; ++line) {
    endptProvSetValue(line, ctx->provItemId, ctx->provItemValuePtr, ctx->provItemSize);
  }
  if (ctx->provItemSize <= 4) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "set endpoint provItem %s (%d), value = %d\n",
             ctx->itemTagName, ctx->provItemId, ctx->curIntValue);
  } else {
    uint32_t words[3] = {0, 0, 0};
    std::memcpy(words, ctx->provItemValuePtr, std::min<size_t>(sizeof(words), ctx->provItemSize));
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG,
             "set endpoint provItem %s (%d), value = 0x%08X 0x%08X 0x%08X\n", ctx->itemTagName,
             ctx->provItemId, words[0], words[1], words[2]);
  }
}

// A refused item keeps what the store holds, or else its built-in value; an item that has no
// built-in value cannot be left out of the country's settings, so the profile is refused (as a
// missing one is). Returns what the item's error line says became of it.
const char* tpSettleRefusedItem(PARSER_CONTEXT* ctx) {
  if (ctx->provItemId == EPPROV_LastItem) return "the item is dropped";
  int32_t builtIn = 0;
  if (ctx->itemKind != TpItemKind::INT || !tpIntItemDefault(ctx->provItemId, &builtIn)) {
    ++ctx->refusedWithoutDefault;
    return "the item has no built-in default: the profile is refused";
  }
  int32_t held = 0;
  if (ctx->numEndpoints > 0 && endptProvGetValue(0, ctx->provItemId, &held) != EPSTATUS_SUCCESS) {
    for (int line = 0; line < ctx->numEndpoints; ++line) {
      endptProvSetValue(line, ctx->provItemId, &builtIn, sizeof(builtIn));
    }
  }
  return "the item keeps its default";
}

// A top-level item has closed: store it, or report why it is dropped.
void tpFinishItem(PARSER_CONTEXT* ctx) {
  if (ctx->ret == 0 && ctx->provItemValuePtr == nullptr && ctx->itemKind != TpItemKind::NONE &&
      ctx->itemKind != TpItemKind::INT) {
    tpItemError(ctx, "%s names no item\n", ctx->itemTagName);
  }
  if (ctx->ret == 0 && ctx->provItemValuePtr != nullptr && ctx->itemKind == TpItemKind::INT &&
      !ctx->itemValueSeen) {
    tpItemError(ctx, "%s has no value\n", ctx->itemTagName);
  }
  if (ctx->ret != 0) {
    tpReportRefusedItem(ctx, tpSettleRefusedItem(ctx));
  } else if (ctx->provItemValuePtr != nullptr) {
    tpWriteItem(ctx);
  }
  tpClearItem(ctx);
}

void tpDeliverText(PARSER_CONTEXT* ctx) {
  if (ctx->textLength == 0 && !ctx->textOverflow) return;
  const bool overflow = ctx->textOverflow;
  char* begin = ctx->text;
  char* end = ctx->text + ctx->textLength;
  while (begin < end && std::strchr(" \t\r\n", *begin)) ++begin;
  while (end > begin && std::strchr(" \t\r\n", end[-1])) --end;
  *end = '\0';
  ctx->textLength = 0;
  ctx->textOverflow = false;
  if (overflow) {
    tpItemError(ctx, "the value of %s is too long\n", ctx->curTagName);
    return;
  }
  if (begin == end || ctx->tagLevel == 0) return;
  const TAG_MAP_ENTRY* entry = ctx->tagEntry[ctx->tagLevel];
  ctx->fieldTextSeen = true;
  entry->procFunc(ctx, entry, nullptr, begin);
}

void tpTagBegin(nxml_t handle, const char* name, int length) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  if (ctx->ignoreTag > 0) {
    ++ctx->ignoreTag;
    return;
  }
  tpDeliverText(ctx);  // text of the enclosing tag that came before this child
  ctx->instAttrValid = 0;
  if (xmlNameOverflow(handle) || length >= NXML_NAME_CACHE_SIZE) {
    tpItemError(ctx, "tag name %.32s... is too long\n", name);
    ctx->ignoreTag = 1;
    return;
  }
  std::memcpy(ctx->curTagName, name, static_cast<size_t>(length));
  ctx->curTagName[length] = '\0';

  if (ctx->tagLevel > 0 && ctx->tagMap[ctx->tagLevel] == nullptr) {
    // Inside a leaf: nested tags have no meaning.
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "%s: tagName %s is ignored!\n", __func__,
             ctx->curTagName);
    ctx->ignoreTag = 1;
    return;
  }
  const TAG_MAP_ENTRY* entry = ctx->tagMap[ctx->tagLevel];
  while (entry->tagName != nullptr && strcasecmp(entry->tagName, ctx->curTagName) != 0) ++entry;

  if (ctx->elementDepth >= PARSER_MAX_ELEMENTS ||
      (entry->tagName != nullptr && ctx->tagLevel + 1 >= PARSER_MAX_LEVELS)) {
    tpItemError(ctx, "tag %s is nested too deep\n", ctx->curTagName);
    ctx->ignoreTag = 1;
    return;
  }
  if (entry->tagName == nullptr) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "%s: tagName %s is ignored!\n", __func__,
             ctx->curTagName);
    std::memcpy(ctx->elementNames[ctx->elementDepth], ctx->curTagName, sizeof(ctx->curTagName));
    ctx->elements[ctx->elementDepth++] = TpElementKind::TRANSPARENT;
    return;
  }
  if (ctx->tagLevel == 0) {
    tpClearItem(ctx);
    std::memcpy(ctx->itemTagName, ctx->curTagName, sizeof(ctx->itemTagName));
  }
  entry->procFunc(ctx, entry, ctx->curTagName, nullptr);
  ++ctx->tagLevel;
  ctx->tagMap[ctx->tagLevel] = entry->childMap;
  ctx->tagEntry[ctx->tagLevel] = entry;
  ctx->procFunc = entry->procFunc;
  ctx->fieldTextSeen = false;
  std::memcpy(ctx->elementNames[ctx->elementDepth], ctx->curTagName, sizeof(ctx->curTagName));
  ctx->elements[ctx->elementDepth++] = TpElementKind::PUSHED;
}

void tpAttributeBegin(nxml_t handle, const char* name, int /*length*/) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  ctx->attrLength = 0;
  ctx->attrOverflow = false;
  ctx->instAttrValid = tpInsideKnownTag(ctx) && strcasecmp(name, "instance") == 0 ? 1 : 0;
}

// The instance counter a tag's "instance" sets, and the largest instance it takes (a ring
// pattern's depends on its kind, checked with its text).
int* tpInstanceCounter(PARSER_CONTEXT* ctx, int* largest) {
  const char* tag = ctx->curTagName;
  *largest = 15;
  if (strcasecmp(tag, "tone") == 0) return *largest = 4, &ctx->toneInstance;
  if (strcasecmp(tag, "frequency") == 0) return *largest = 3, &ctx->freqInstance;
  if (strcasecmp(tag, "pattern") == 0) return *largest = 9, &ctx->ringPatternInstance;
  if (strcasecmp(tag, "privateCode") == 0) return &ctx->privateCodeInstance;
  if (strcasecmp(tag, "unavailCode") == 0) return &ctx->unavailCodeInstance;
  if (strcasecmp(tag, "errorCode") == 0) return &ctx->errorCodeInstance;
  return nullptr;
}

void tpAttributeValue(nxml_t handle, const char* value, int length, int more) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  if (!ctx->instAttrValid) return;
  const int room = PARSER_MAX_ATTR - ctx->attrLength;
  if (length > room) ctx->attrOverflow = true;
  std::memcpy(ctx->attrValue + ctx->attrLength, value, static_cast<size_t>(std::min(length, room)));
  ctx->attrLength += std::min(length, room);
  if (more) return;
  ctx->attrValue[ctx->attrLength] = '\0';
  ctx->instAttrValid = 0;
  int largest = 0;
  int* counter = tpInstanceCounter(ctx, &largest);
  if (counter == nullptr) return;
  long long instance = 0;
  // A bad instance would drop its entry unseen; it refuses the item instead, and the entry's
  // values go to a scratch entry (an out-of-range counter selects none).
  *counter = -1;
  if (ctx->attrOverflow) {
    tpItemError(ctx, "the instance of %s is too long\n", ctx->curTagName);
  } else if (tpParseInt(ctx, ctx->attrValue, INT_MIN, INT_MAX, &instance)) {
    if (instance < 0 || instance > largest) {
      tpItemError(ctx, "%s: instance %lld is out of range (0 to %d)\n", ctx->curTagName, instance,
                  largest);
    } else {
      *counter = static_cast<int>(instance);
    }
  }
}

void tpData(nxml_t handle, const char* text, int length, int more) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  if (!tpInsideKnownTag(ctx)) return;
  const int room = PARSER_MAX_TEXT - ctx->textLength;
  if (length > room) {
    // Whitespace around child tags can be long; only a long value is an error.
    for (int i = room; i < length; ++i) {
      if (!std::strchr(" \t\r\n", text[i])) ctx->textOverflow = true;
    }
  }
  std::memcpy(ctx->text + ctx->textLength, text, static_cast<size_t>(std::min(length, room)));
  ctx->textLength += std::min(length, room);
  if (!more) tpDeliverText(ctx);
}

void tpTagEnd(nxml_t handle, const char* name, int length) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  if (ctx->ignoreTag > 0) {
    --ctx->ignoreTag;
    return;
  }
  if (ctx->elementDepth == 0) return;  // a stray closing tag
  tpDeliverText(ctx);
  const int element = --ctx->elementDepth;
  // "/>" closes with an empty name; a named end must close the element that is open.
  if (length > 0 && (length >= NXML_NAME_CACHE_SIZE ||
                     strncasecmp(ctx->elementNames[element], name, static_cast<size_t>(length)) != 0 ||
                     ctx->elementNames[element][length] != '\0')) {
    tpItemError(ctx, "closing tag %.*s does not match %s\n", std::min(length, 64),
                name, ctx->elementNames[element]);
  }
  const TpElementKind kind = ctx->elements[element];
  if (kind == TpElementKind::TRANSPARENT) return;
  // A field of a compound item without text would leave its value at 0 unseen.
  const TAG_MAP_ENTRY* closing = ctx->tagEntry[ctx->tagLevel];
  if (ctx->tagLevel >= 2 && closing->childMap == nullptr && closing->field != TP_FIELD_NONE &&
      !ctx->fieldTextSeen) {
    tpItemError(ctx, "%s is empty\n", closing->tagName);
  }
  ctx->fieldTextSeen = true;  // the enclosing element's text is its own business
  --ctx->tagLevel;
  ctx->curTagName[0] = '\0';
  ctx->procFunc = ctx->tagLevel > 0 ? ctx->tagEntry[ctx->tagLevel]->procFunc : nullptr;
  if (ctx->tagLevel == 0) {
    tpFinishItem(ctx);
  }
}

const nxml_settings tpSettings = {
    tpTagBegin, tpAttributeBegin, tpAttributeValue, tpData, tpTagEnd,
};

// Parses a whole profile; true when the document was read to the end of its root element and
// every item refused on the way had a built-in value to keep.
bool tp_ParseConfigBuf(const char* buffer, size_t length, const char* fileName) {
  if (length <= 1) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: empty buff\n", __func__);
    return false;
  }
  auto ctx = std::make_unique<PARSER_CONTEXT>();
  std::memset(ctx.get(), 0, sizeof(PARSER_CONTEXT));
  ctx->tagMap[0] = rootTagMap;
  ctx->fileName = fileName;
  ctx->numEndpoints = std::clamp(boardHalGetNumEndpoints(), 0, PROV_MAX_LINES);
  tpClearItem(ctx.get());

  nxml_t handle = nullptr;
  if (!xmlOpen(&handle, &tpSettings, ctx.get())) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "xmlOpen failed\n");
    return false;
  }
  const int complete = xmlWrite(handle, buffer, length, nullptr);
  xmlClose(handle);
  if (!complete) {
    if (ctx->ret != 0) tpReportRefusedItem(ctx.get());
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: the document ends before its root "
             "element closes\n", __func__);
    return false;
  }
  if (ctx->refusedItems > 0) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_WARNING, "%s: %d item(s) of %s refused\n", __func__,
             ctx->refusedItems, fileName);
  }
  if (ctx->refusedWithoutDefault > 0) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR,
             "%s: %d refused item(s) of %s have no built-in default\n", __func__,
             ctx->refusedWithoutDefault, fileName);
    return false;
  }
  return true;
}

std::string tpProfilePath(const char* code) {
  std::string path = tpProfileDirectory();
  if (!path.empty() && path.back() != '/') path += '/';
  return path + code + PROFILE_SUFFIX;
}

// Reads the whole file into `buffer`; false (logged) when it cannot.
bool tpReadFile(const std::string& path, std::string* buffer) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || info.st_size == 0) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: %s is an empty file or not found!!!\n",
             __func__, path.c_str());
    return false;
  }
  if (info.st_size > PROFILE_MAX_FILE_SIZE) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: %s is too large (%lld bytes)\n",
             __func__, path.c_str(), static_cast<long long>(info.st_size));
    return false;
  }
  const int size = static_cast<int>(info.st_size);
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "%s: the size of file %s is %d\n", __func__,
           path.c_str(), size);
  try {
    buffer->resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: malloc of %d bytes failed\n", __func__,
             size);
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int got = -1;
  if (fd < 0) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "could not open file %s, errno=%d\n",
             path.c_str(), errno);
  } else {
    do {
      got = static_cast<int>(::read(fd, buffer->data(), static_cast<size_t>(size)));
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got != size) {
      voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "read error, got %d, expected %d\n", got,
               size);
    }
  }
  if (got != size) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: Failed to read file %s: len %d, ret %d\n",
             __func__, path.c_str(), size, got);
    return false;
  }
  return true;
}

}  // namespace

const char* tpProfileDirectory(void) {
  const char* dir = std::getenv("ORVOX_PROFILE_DIR");
  return dir != nullptr && dir[0] != '\0' ? dir : PROFILE_DEFAULT_DIR;
}

int tpLocaleProfileLoaded(VRG_COUNTRY country) {
  return lastLoadedCountry.load(std::memory_order_relaxed) == static_cast<int>(country) ? 1 : 0;
}

void tpUpdateLocaleProfile(VRG_COUNTRY country) {
  lastLoadedCountry.store(-1, std::memory_order_relaxed);
  const COUNTRY_MAP* entry = countryMap;
  while (entry->country != VRG_COUNTRY_MAX && entry->country != country) ++entry;
  if (entry->country == VRG_COUNTRY_MAX) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR,
             "%s: Country (%d) is not supported!!!  Program exit\n", __func__, country);
    return;
  }
  const std::string path = tpProfilePath(entry->countryName);
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "%s: Opening file %s ...\n", __func__,
           path.c_str());
  std::string buffer;
  if (!tpReadFile(path, &buffer)) return;
  endptProvInit();  // the store that takes the values, if the library has not made it yet

  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_INFO, "Got config file from %s (len=%d), validating....\n",
           path.c_str(), static_cast<int>(buffer.size()));
  if (!tp_ParseConfigBuf(buffer.data(), buffer.size(), path.c_str())) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: config file from %s is invalid\n",
             __func__, path.c_str());
    return;
  }
  const int numEndpoints = std::clamp(boardHalGetNumEndpoints(), 0, PROV_MAX_LINES);
  int32_t locale = country;
  for (int line = 0; line < numEndpoints; ++line) {
    endptProvSetValue(line, EPPROV_LastLocale, &locale, sizeof(locale));
  }
  lastLoadedCountry.store(static_cast<int>(country), std::memory_order_relaxed);
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_NOTICE, "%s: config file from %s is OK for country %d\n",
           __func__, path.c_str(), country);
}
