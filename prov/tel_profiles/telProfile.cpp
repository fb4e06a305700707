// Profile loader: reads the country's profile file, runs it through the tokenizer and writes
// each complete item into the provisioning store for every endpoint. A problem in one item
// drops that item (with a log line) and the parse goes on; any dropped item makes the file
// invalid, so that EPPROV_LastLocale is written only for a file that was read in full.

#include "telProfile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "telProfileMaps.h"
#include "voiceLog.h"
#include "vrgProv.h"
#include "vrgProvValues.h"

namespace {

constexpr const char* PROFILE_DEFAULT_DIR = "/etc/telephonyProfiles.d/";
constexpr const char* PROFILE_SUFFIX = "_profile.xml";
// Our profiles are a few tens of kilobytes; a file far beyond that is not a profile.
constexpr off_t PROFILE_MAX_FILE_SIZE = 1 << 20;

constexpr int PARSER_MAX_LEVELS = 10;    // depth of the tag-table stack
constexpr int PARSER_MAX_ELEMENTS = 32;  // open elements followed at once
constexpr int PARSER_MAX_TEXT = 128;     // longest value text
constexpr int PARSER_MAX_ATTR = 32;      // longest attribute value

enum class ItemKind { NONE, INT, TONE, RING, FSK, DTMF };

// What the start of an open element did, so that its end undoes exactly that.
enum class ElementKind : uint8_t {
  PUSHED,       // a known tag: its table level was pushed
  TRANSPARENT,  // an unknown tag: its text is dropped, its children are read at this level
};

}  // namespace

struct PARSER_CONTEXT {
  const TAG_MAP_ENTRY* tagMap[PARSER_MAX_LEVELS];  // the table of each open level
  const TAG_MAP_ENTRY* tagEntry[PARSER_MAX_LEVELS];  // the entry that opened each level
  TAG_HANDLER procFunc;  // the handler of the innermost known tag
  int tagLevel;
  int ignoreTag;  // depth of a subtree whose tags and text are all skipped
  int countryFound;
  EPPROV provItemId;
  void* provItemValuePtr;
  int provItemSize;
  char curTagName[NXML_NAME_CACHE_SIZE];
  int instAttrValid;
  int ret;  // 0, or -1 after an error in the current item

  // The value under construction.
  HDSP_TONE_PROV_PATTERN curTone;
  VRG_RING_PROFILE curRing;
  int32_t curIntValue;
  VRG_CLASS_FSK curCIDFskParms;
  VRG_CLASS_DTMF curCIDDtmfParms;
  int toneInstance;
  int freqInstance;
  int ringPatternInstance;
  int privateCodeInstance;
  int unavailCodeInstance;
  int errorCodeInstance;

  // Bookkeeping of the current item and of the document.
  ItemKind itemKind;
  char itemTagName[NXML_NAME_CACHE_SIZE];
  bool itemValueSeen;
  bool ringTypeSet;
  ElementKind elements[PARSER_MAX_ELEMENTS];
  char elementNames[PARSER_MAX_ELEMENTS][NXML_NAME_CACHE_SIZE];
  int elementDepth;
  char text[PARSER_MAX_TEXT + 1];
  int textLength;
  bool textOverflow;
  char attrValue[PARSER_MAX_ATTR + 1];
  int attrLength;
  bool attrOverflow;
  bool fileError;
  int numEndpoints;
};

namespace {

void tpItemError(PARSER_CONTEXT* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));

void tpItemError(PARSER_CONTEXT* ctx, const char* format, ...) {
  va_list args;
  va_start(args, format);
  voiceVLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, format, args);
  va_end(args);
  ctx->ret = -1;
  ctx->fileError = true;
}

void tpClearItem(PARSER_CONTEXT* ctx) {
  ctx->provItemId = EPPROV_LastItem;
  ctx->provItemValuePtr = nullptr;
  ctx->provItemSize = 0;
  ctx->ret = 0;
  ctx->instAttrValid = 0;
  std::memset(&ctx->curTone, 0, sizeof(ctx->curTone));
  std::memset(&ctx->curRing, 0, sizeof(ctx->curRing));
  ctx->curIntValue = 0;
  std::memset(&ctx->curCIDFskParms, 0, sizeof(ctx->curCIDFskParms));
  std::memset(&ctx->curCIDDtmfParms, 0, sizeof(ctx->curCIDDtmfParms));
  ctx->toneInstance = ctx->freqInstance = ctx->ringPatternInstance = 0;
  ctx->privateCodeInstance = ctx->unavailCodeInstance = ctx->errorCodeInstance = 0;
  ctx->itemKind = ItemKind::NONE;
  ctx->itemTagName[0] = '\0';
  ctx->itemValueSeen = false;
  ctx->ringTypeSet = false;
}

// A whole decimal number within [min, max]; anything else is an item error.
bool tpParseInt(PARSER_CONTEXT* ctx, const char* text, long long min, long long max,
                long long* value) {
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE) {
    tpItemError(ctx, "%s: %s is not a number\n", __func__, text);
    return false;
  }
  if (number < min || number > max) {
    tpItemError(ctx, "%s: %lld is out of range (%lld to %lld)\n", __func__, number, min, max);
    return false;
  }
  *value = number;
  return true;
}

// Parses into an integer field of type T, checking T's range (or a tighter one).
template <typename T>
bool tpParseField(PARSER_CONTEXT* ctx, const char* text, T* field,
                  long long min = std::numeric_limits<T>::min(),
                  long long max = static_cast<long long>(std::numeric_limits<T>::max())) {
  long long value;
  if (!tpParseInt(ctx, text, min, max, &value)) return false;
  *field = static_cast<T>(value);
  return true;
}

int tpParseBool(const char* text) { return strcasecmp(text, "false") == 0 ? 0 : 1; }

// The handlers of a value need the item's buffer, which its name tag selects.
bool tpHaveValue(PARSER_CONTEXT* ctx, const char* function) {
  if (ctx->provItemValuePtr == nullptr) {
    tpItemError(ctx, "%s: Caller is unknown\n", function);
    return false;
  }
  return true;
}

// Selects the item named by `text`, which must be one of the items in [first, last].
void tpSelectItem(PARSER_CONTEXT* ctx, const char* text, EPPROV first, EPPROV last, void* value,
                  int size) {
  const EPPROV item = tpLookupProvItem(text);
  if (item == EPPROV_LastItem || item < first || item > last) {
    ctx->provItemValuePtr = nullptr;
    tpItemError(ctx, "%s: %s does not name an item of this kind\n", __func__, text);
    return;
  }
  ctx->provItemId = item;
  ctx->provItemValuePtr = value;
  ctx->provItemSize = size;
}

bool tpInRange(int index, int count) { return index >= 0 && index < count; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tag handlers
// ---------------------------------------------------------------------------------------------

void tpCountryHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY*, const char* name, const char*) {
  // The country's name in the file is informative only.
  if (name != nullptr) ctx->countryFound = 1;
}

void tpIntItemHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                      const char* data) {
  if (name != nullptr) {
    const EPPROV item = tpLookupProvItem(name);
    ctx->itemKind = ItemKind::INT;
    if (item == EPPROV_LastItem) {
      ctx->provItemValuePtr = nullptr;
      return;
    }
    ctx->provItemId = item;
    ctx->provItemValuePtr = &ctx->curIntValue;
    ctx->provItemSize = sizeof(ctx->curIntValue);
    return;
  }
  if (!tpHaveValue(ctx, __func__)) return;
  int value = 0;
  switch (entry->field) {
    case TP_FIELD_INT:
      if (!tpParseField(ctx, data, &ctx->curIntValue)) return;
      break;
    case TP_FIELD_BOOL:
      ctx->curIntValue = tpParseBool(data);
      break;
    case TP_FIELD_NAMED:
      if (!tpLookupValue(entry->valueMap, data, &value)) {
        ctx->provItemValuePtr = nullptr;
        tpItemError(ctx, "%s: %s is not a value of %s\n", __func__, data, entry->tagName);
        return;
      }
      ctx->curIntValue = value;
      break;
    default:
      return;
  }
  ctx->itemValueSeen = true;
}

void tpToneHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                   const char* data) {
  if (name != nullptr) {
    if (ctx->tagLevel == 0) {  // "toneProfile": the item is chosen by its "toneName"
      ctx->itemKind = ItemKind::TONE;
      ctx->provItemSize = sizeof(ctx->curTone);
    }
    return;
  }
  if (entry->field == TP_FIELD_TONE_NAME) {
    tpSelectItem(ctx, data, EPPROV_ToneBusy, EPPROV_CallingCard, &ctx->curTone,
                 sizeof(ctx->curTone));
    return;
  }
  if (entry->field == TP_FIELD_NONE || !tpHaveValue(ctx, __func__)) return;

  HDSP_TONE_PROV_PATTERN& tone = ctx->curTone;
  // Entries outside the ranges are ignored; the text is still checked.
  HDSP_TONE_COMPONENT scratchComponent{};
  HDSP_TONE_COMPONENT& component =
      tpInRange(ctx->toneInstance, 5) ? tone.tone[ctx->toneInstance] : scratchComponent;
  HDSP_TONE_FREQUENCY_COMPONENT scratchFrequency{};
  HDSP_TONE_FREQUENCY_COMPONENT& frequency =
      tpInRange(ctx->freqInstance, 4) ? component.frequency[ctx->freqInstance] : scratchFrequency;
  switch (entry->field) {
    case TP_FIELD_TONE_REPETITIONS: tpParseField(ctx, data, &tone.repetitions); break;
    case TP_FIELD_TONE_TONES: tpParseField(ctx, data, &tone.tones, 0, 5); break;
    case TP_FIELD_TONE_NOSTEADY: tone.noSteadyTone = tpParseBool(data); break;
    case TP_FIELD_COMP_REPETITIONS: tpParseField(ctx, data, &component.repetitions); break;
    case TP_FIELD_COMP_SOUND: tpParseField(ctx, data, &component.soundDuration); break;
    case TP_FIELD_COMP_SILENCE: tpParseField(ctx, data, &component.silenceDuration); break;
    case TP_FIELD_COMP_MODULATE: component.modulateTone = tpParseBool(data); break;
    case TP_FIELD_COMP_MODPERCENT: tpParseField(ctx, data, &component.modulatePercent, 0, 100); break;
    case TP_FIELD_COMP_FREQUENCIES: tpParseField(ctx, data, &component.frequencies, 0, 4); break;
    case TP_FIELD_FREQ_HERTZ: tpParseField(ctx, data, &frequency.hertz); break;
    case TP_FIELD_FREQ_LEVEL: tpParseField(ctx, data, &frequency.level); break;
    default: break;
  }
}

void tpRingHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                   const char* data) {
  if (name != nullptr) {
    if (ctx->tagLevel == 0) {  // "ringProfile": the item is chosen by its "name"
      ctx->itemKind = ItemKind::RING;
      ctx->provItemSize = sizeof(ctx->curRing);
    }
    return;
  }
  switch (entry->field) {
    case TP_FIELD_RING_NAME:
      tpSelectItem(ctx, data, EPPROV_R0Cadence, EPPROV_RSCadence, &ctx->curRing,
                   sizeof(ctx->curRing));
      break;
    case TP_FIELD_RING_LONG:
      if (!tpHaveValue(ctx, __func__)) return;
      ctx->curRing.type = strcasecmp(data, "false") == 0 ? VRG_RING_SHORT : VRG_RING_LONG;
      ctx->ringTypeSet = true;
      break;
    case TP_FIELD_RING_PATTERN: {
      if (!tpHaveValue(ctx, __func__)) return;
      if (!ctx->ringTypeSet) {
        tpItemError(ctx, "%s: longPattern must come before the patterns\n", __func__);
        return;
      }
      if (strncasecmp(data, "0x", 2) != 0) {
        tpItemError(ctx, "%s: Wrong data format!  Expecting 0x00112233 e.g.\n", __func__);
        return;
      }
      errno = 0;
      char* end = nullptr;
      const long long word = std::strtoll(data, &end, 16);
      if (end == data + 2 || *end != '\0' || errno == ERANGE || word < 0 || word > UINT32_MAX) {
        tpItemError(ctx, "%s: Wrong data format!  Expecting 0x00112233 e.g.\n", __func__);
        return;
      }
      const int words = ctx->curRing.type == VRG_RING_SHORT ? 2 : 10;
      if (tpInRange(ctx->ringPatternInstance, words)) {
        vrgRingPatternWord(ctx->curRing, ctx->ringPatternInstance) = static_cast<uint32_t>(word);
      }
      break;
    }
    default:
      break;
  }
}

void tpFskHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                  const char* data) {
  if (name != nullptr) {
    if (ctx->tagLevel == 0) {
      ctx->itemKind = ItemKind::FSK;
      ctx->provItemSize = sizeof(ctx->curCIDFskParms);
    }
    return;
  }
  if (entry->field == TP_FIELD_FSK_NAME) {
    tpSelectItem(ctx, data, EPPROV_CIDFskParms, EPPROV_CIDFskParms, &ctx->curCIDFskParms,
                 sizeof(ctx->curCIDFskParms));
    return;
  }
  if (entry->field == TP_FIELD_NONE || !tpHaveValue(ctx, __func__)) return;
  VRG_CLASS_FSK& fsk = ctx->curCIDFskParms;
  switch (entry->field) {
    case TP_FIELD_FSK_AMPLITUDE: tpParseField(ctx, data, &fsk.amplitude); break;
    case TP_FIELD_FSK_MARK: tpParseField(ctx, data, &fsk.markFrequency); break;
    case TP_FIELD_FSK_SPACE: tpParseField(ctx, data, &fsk.spaceFrequency); break;
    case TP_FIELD_FSK_SEIZES: tpParseField(ctx, data, &fsk.startNumSeizes); break;
    case TP_FIELD_FSK_MARKS: tpParseField(ctx, data, &fsk.startNumMarks); break;
    default: break;
  }
}

namespace {

// A digit name; an unknown name gives digit 0.
uint8_t tpDigitCode(const char* text) {
  int code = 0;
  if (!tpLookupValue(pteDTMFDDGTMap, text, &code)) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_WARNING, "%s: unknown digit %s, taken as DTMF0\n",
             __func__, text);
  }
  return static_cast<uint8_t>(code);
}

void tpSetCodeDigit(uint8_t (&code)[16], int instance, const char* text) {
  const uint8_t digit = tpDigitCode(text);
  if (tpInRange(instance, 16)) code[instance] = digit;
}

}  // namespace

void tpDtmfHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                   const char* data) {
  if (name != nullptr) {
    if (ctx->tagLevel == 0) {
      ctx->itemKind = ItemKind::DTMF;
      ctx->provItemSize = sizeof(ctx->curCIDDtmfParms);
    }
    return;
  }
  if (entry->field == TP_FIELD_DTMF_NAME) {
    tpSelectItem(ctx, data, EPPROV_CIDDtmfParms, EPPROV_CIDDtmfParms, &ctx->curCIDDtmfParms,
                 sizeof(ctx->curCIDDtmfParms));
    return;
  }
  if (entry->field == TP_FIELD_NONE || !tpHaveValue(ctx, __func__)) return;
  VRG_CLASS_DTMF& dtmf = ctx->curCIDDtmfParms;
  switch (entry->field) {
    case TP_FIELD_DTMF_DBLEVEL: tpParseField(ctx, data, &dtmf.dbLevel); break;
    case TP_FIELD_DTMF_PULSETIME: tpParseField(ctx, data, &dtmf.pulseTime); break;
    case TP_FIELD_DTMF_START: dtmf.startCode = tpDigitCode(data); break;
    case TP_FIELD_DTMF_END: dtmf.endCode = tpDigitCode(data); break;
    case TP_FIELD_DTMF_REDIRECTING: dtmf.redirectingCode = tpDigitCode(data); break;
    case TP_FIELD_DTMF_INFORMATION: dtmf.informationCode = tpDigitCode(data); break;
    case TP_FIELD_DTMF_PRIVATE: tpSetCodeDigit(dtmf.privateCode, ctx->privateCodeInstance, data); break;
    case TP_FIELD_DTMF_UNAVAIL: tpSetCodeDigit(dtmf.unavailCode, ctx->unavailCodeInstance, data); break;
    case TP_FIELD_DTMF_ERROR: tpSetCodeDigit(dtmf.errorCode, ctx->errorCodeInstance, data); break;
    case TP_FIELD_DTMF_PAUSE: tpParseField(ctx, data, &dtmf.DTMFpauseTimeout); break;
    case TP_FIELD_DTMF_SESSION: tpParseField(ctx, data, &dtmf.DTMFsessionTimeout); break;
    case TP_FIELD_DTMF_RINGAFTER: tpParseField(ctx, data, &dtmf.ringAfterClidTimeout); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------
// Tokenizer callbacks
// ---------------------------------------------------------------------------------------------

namespace {

PARSER_CONTEXT* tpContext(nxml_t handle) { return static_cast<PARSER_CONTEXT*>(xmlUser(handle)); }

bool tpInsideKnownTag(const PARSER_CONTEXT* ctx) {
  return ctx->ignoreTag == 0 && ctx->elementDepth > 0 &&
         ctx->elements[ctx->elementDepth - 1] == ElementKind::PUSHED;
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

// A top-level item has closed: store it, or report why it is dropped.
void tpFinishItem(PARSER_CONTEXT* ctx) {
  if (ctx->ret == 0 && ctx->provItemValuePtr == nullptr && ctx->itemKind != ItemKind::NONE &&
      ctx->itemKind != ItemKind::INT) {
    tpItemError(ctx, "%s: %s names no item\n", __func__, ctx->itemTagName);
  }
  if (ctx->ret == 0 && ctx->provItemValuePtr != nullptr && ctx->itemKind == ItemKind::INT &&
      !ctx->itemValueSeen) {
    tpItemError(ctx, "%s: %s has no value\n", __func__, ctx->itemTagName);
  }
  if (ctx->ret != 0) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR,
             "ERROR: There is an error when parsing tagName %s: \n", ctx->itemTagName);
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
    tpItemError(ctx, "%s: value of %s is too long\n", __func__, ctx->curTagName);
    return;
  }
  if (begin == end || ctx->tagLevel == 0) return;
  const TAG_MAP_ENTRY* entry = ctx->tagEntry[ctx->tagLevel];
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
    tpItemError(ctx, "%s: tag name %.32s... is too long\n", __func__, name);
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
    tpItemError(ctx, "%s: tag %s is nested too deep\n", __func__, ctx->curTagName);
    ctx->ignoreTag = 1;
    return;
  }
  if (entry->tagName == nullptr) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "%s: tagName %s is ignored!\n", __func__,
             ctx->curTagName);
    std::memcpy(ctx->elementNames[ctx->elementDepth], ctx->curTagName, sizeof(ctx->curTagName));
    ctx->elements[ctx->elementDepth++] = ElementKind::TRANSPARENT;
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
  std::memcpy(ctx->elementNames[ctx->elementDepth], ctx->curTagName, sizeof(ctx->curTagName));
  ctx->elements[ctx->elementDepth++] = ElementKind::PUSHED;
}

void tpAttributeBegin(nxml_t handle, const char* name, int /*length*/) {
  PARSER_CONTEXT* ctx = tpContext(handle);
  ctx->attrLength = 0;
  ctx->attrOverflow = false;
  ctx->instAttrValid = tpInsideKnownTag(ctx) && strcasecmp(name, "instance") == 0 ? 1 : 0;
}

int* tpInstanceCounter(PARSER_CONTEXT* ctx) {
  const char* tag = ctx->curTagName;
  if (strcasecmp(tag, "tone") == 0) return &ctx->toneInstance;
  if (strcasecmp(tag, "frequency") == 0) return &ctx->freqInstance;
  if (strcasecmp(tag, "pattern") == 0) return &ctx->ringPatternInstance;
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
  int* counter = tpInstanceCounter(ctx);
  if (counter == nullptr) return;
  long long instance = 0;
  if (ctx->attrOverflow) {
    tpItemError(ctx, "%s: instance of %s is too long\n", __func__, ctx->curTagName);
  } else if (tpParseInt(ctx, ctx->attrValue, INT_MIN, INT_MAX, &instance)) {
    *counter = static_cast<int>(instance);
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
    tpItemError(ctx, "%s: closing tag %.*s does not match %s\n", __func__, std::min(length, 64),
                name, ctx->elementNames[element]);
  }
  const ElementKind kind = ctx->elements[element];
  if (kind == ElementKind::TRANSPARENT) return;
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

// Parses a whole profile; true when every item was read without error.
bool tp_ParseConfigBuf(const char* buffer, size_t length) {
  if (length <= 1) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: empty buff\n", __func__);
    return false;
  }
  auto ctx = std::make_unique<PARSER_CONTEXT>();
  std::memset(ctx.get(), 0, sizeof(PARSER_CONTEXT));
  ctx->tagMap[0] = rootTagMap;
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
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: the document ends before its root "
             "element closes\n", __func__);
    return false;
  }
  return !ctx->fileError;
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

void tpUpdateLocaleProfile(VRG_COUNTRY country) {
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

  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_INFO, "Got config file from %s (len=%d), validating....\n",
           path.c_str(), static_cast<int>(buffer.size()));
  if (!tp_ParseConfigBuf(buffer.data(), buffer.size())) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "%s: config file from %s is invalid\n",
             __func__, path.c_str());
    return;
  }
  const int numEndpoints = std::clamp(boardHalGetNumEndpoints(), 0, PROV_MAX_LINES);
  int32_t locale = country;
  for (int line = 0; line < numEndpoints; ++line) {
    endptProvSetValue(line, EPPROV_LastLocale, &locale, sizeof(locale));
  }
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_NOTICE, "%s: config file from %s is OK for country %d\n",
           __func__, path.c_str(), country);
}
