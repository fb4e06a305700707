// Tag handlers of the profile loader: each turns a tag's text into a field of the value under
// construction, after checking it against the field's range.

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "telProfileContext.h"
#include "voiceLog.h"

void tpItemError(PARSER_CONTEXT* ctx, const char* format, ...) {
  char reason[PARSER_MAX_REASON];
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof(reason), format, args);
  va_end(args);
  size_t length = std::strlen(reason);
  if (length > 0 && reason[length - 1] == '\n') reason[--length] = '\0';
  // Every refused value is named once; a reason that follows from an earlier one is not repeated.
  if (ctx->ret == 0) {
    std::snprintf(ctx->itemError, sizeof(ctx->itemError), "%s", reason);
  } else if (std::strstr(ctx->itemError, reason) == nullptr) {
    const size_t used = std::strlen(ctx->itemError);
    std::snprintf(ctx->itemError + used, sizeof(ctx->itemError) - used, "; %s", reason);
  }
  ctx->ret = -1;
  if (ctx->itemKind == TpItemKind::NONE) {  // no item is open to carry the error to its end
    tpReportRefusedItem(ctx, "the tag is skipped");
    ctx->ret = 0;
  }
}

void tpReportRefusedItem(PARSER_CONTEXT* ctx, const char* outcome) {
  const char* tag = ctx->itemTagName[0] != '\0' ? ctx->itemTagName : ctx->curTagName;
  const bool named = ctx->itemName[0] != '\0';
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR,
           "ERROR: There is an error when parsing tagName %s%s%s%s: %s in %s; %s\n", tag,
           named ? " (" : "", ctx->itemName, named ? ")" : "", ctx->itemError, ctx->fileName, outcome);
  ++ctx->refusedItems;
}

void tpClearItem(PARSER_CONTEXT* ctx) {
  ctx->provItemId = EPPROV_LastItem;
  ctx->provItemValuePtr = nullptr;
  ctx->provItemSize = 0;
  ctx->ret = 0;
  ctx->itemError[0] = '\0';
  ctx->itemName[0] = '\0';
  ctx->instAttrValid = 0;
  std::memset(&ctx->curTone, 0, sizeof(ctx->curTone));
  std::memset(&ctx->curRing, 0, sizeof(ctx->curRing));
  ctx->curIntValue = 0;
  std::memset(&ctx->curCIDFskParms, 0, sizeof(ctx->curCIDFskParms));
  std::memset(&ctx->curCIDDtmfParms, 0, sizeof(ctx->curCIDDtmfParms));
  ctx->toneInstance = ctx->freqInstance = ctx->ringPatternInstance = 0;
  ctx->privateCodeInstance = ctx->unavailCodeInstance = ctx->errorCodeInstance = 0;
  ctx->itemKind = TpItemKind::NONE;
  ctx->itemTagName[0] = '\0';
  ctx->itemValueSeen = false;
  ctx->ringTypeSet = false;
  ctx->fieldTextSeen = false;
}

namespace {

// A field of a profile is named in its errors; a simple item's name is already the item's.
struct TpFieldLabel {
  const char* name;
  const char* separator;
};
TpFieldLabel tpFieldLabel(const PARSER_CONTEXT* ctx) {
  const bool field = strcasecmp(ctx->curTagName, ctx->itemTagName) != 0;
  return {field ? ctx->curTagName : "", field ? ": " : ""};
}

}  // namespace

bool tpParseInt(PARSER_CONTEXT* ctx, const char* text, long long min, long long max,
                long long* value) {
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(text, &end, 10);
  const TpFieldLabel label = tpFieldLabel(ctx);
  if (end == text || *end != '\0' || errno == ERANGE) {
    tpItemError(ctx, "%s%s\"%s\" is not a number\n", label.name, label.separator, text);
    return false;
  }
  if (number < min || number > max) {
    tpItemError(ctx, "%s%s%lld is out of range (%lld to %lld)\n", label.name, label.separator,
                number, min, max);
    return false;
  }
  *value = number;
  return true;
}

namespace {

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

// "true" or "false", whatever the case; any other text is an item error.
template <typename T>
bool tpParseBool(PARSER_CONTEXT* ctx, const char* text, T* field) {
  if (strcasecmp(text, "true") == 0 || strcasecmp(text, "false") == 0) {
    *field = static_cast<T>(strcasecmp(text, "true") == 0 ? 1 : 0);
    return true;
  }
  const TpFieldLabel label = tpFieldLabel(ctx);
  tpItemError(ctx, "%s%s\"%s\" is neither true nor false\n", label.name, label.separator, text);
  return false;
}

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
    tpItemError(ctx, "%s: %s does not name an item of this kind\n", ctx->curTagName, text);
    return;
  }
  std::snprintf(ctx->itemName, sizeof(ctx->itemName), "%s", text);
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
    ctx->itemKind = TpItemKind::INT;
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
    case TP_FIELD_INT: {
      long long min, max;
      tpIntItemRange(ctx->provItemId, &min, &max);
      if (!tpParseField(ctx, data, &ctx->curIntValue, min, max)) return;
      break;
    }
    case TP_FIELD_BOOL:
      if (!tpParseBool(ctx, data, &ctx->curIntValue)) return;
      break;
    case TP_FIELD_NAMED:
      if (!tpLookupValue(entry->valueMap, data, &value)) {
        ctx->provItemValuePtr = nullptr;
        tpItemError(ctx, "%s is not a value of %s\n", data, entry->tagName);
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
      ctx->itemKind = TpItemKind::TONE;
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
    case TP_FIELD_TONE_NOSTEADY: tpParseBool(ctx, data, &tone.noSteadyTone); break;
    case TP_FIELD_COMP_REPETITIONS: tpParseField(ctx, data, &component.repetitions); break;
    case TP_FIELD_COMP_SOUND: tpParseField(ctx, data, &component.soundDuration); break;
    case TP_FIELD_COMP_SILENCE: tpParseField(ctx, data, &component.silenceDuration); break;
    case TP_FIELD_COMP_MODULATE: tpParseBool(ctx, data, &component.modulateTone); break;
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
      ctx->itemKind = TpItemKind::RING;
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
    {
      if (!tpHaveValue(ctx, __func__)) return;
      bool isLong = false;
      if (!tpParseBool(ctx, data, &isLong)) return;
      ctx->curRing.type = isLong ? VRG_RING_LONG : VRG_RING_SHORT;
      ctx->ringTypeSet = true;
      break;
    }
    case TP_FIELD_RING_PATTERN: {
      if (!tpHaveValue(ctx, __func__)) return;
      if (!ctx->ringTypeSet) {
        tpItemError(ctx, "%s: longPattern must come before the patterns\n", __func__);
        return;
      }
      if (strncasecmp(data, "0x", 2) != 0) {
        tpItemError(ctx, "%s: Wrong data format!  Expecting 0x00112233 e.g. (got %s)\n", __func__, data);
        return;
      }
      errno = 0;
      char* end = nullptr;
      const long long word = std::strtoll(data, &end, 16);
      if (end == data + 2 || *end != '\0' || errno == ERANGE || word < 0 || word > UINT32_MAX) {
        tpItemError(ctx, "%s: Wrong data format!  Expecting 0x00112233 e.g. (got %s)\n", __func__, data);
        return;
      }
      const int words = ctx->curRing.type == VRG_RING_SHORT ? 2 : 10;
      if (ctx->ringPatternInstance < 0) return;  // its bad instance is already reported
      if (!tpInRange(ctx->ringPatternInstance, words)) {
        tpItemError(ctx, "pattern: instance %d is out of range for a %s pattern (0 to %d)\n",
                    ctx->ringPatternInstance, words == 2 ? "short" : "long", words - 1);
        return;
      }
      vrgRingPatternWord(ctx->curRing, ctx->ringPatternInstance) = static_cast<uint32_t>(word);
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
      ctx->itemKind = TpItemKind::FSK;
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

// A digit name; any other text is an item error.
bool tpDigitCode(PARSER_CONTEXT* ctx, const char* text, uint8_t* digit) {
  int code = 0;
  if (!tpLookupValue(pteDTMFDDGTMap, text, &code)) {
    tpItemError(ctx, "%s: %s is not a digit name\n", ctx->curTagName, text);
    return false;
  }
  *digit = static_cast<uint8_t>(code);
  return true;
}

void tpSetCodeDigit(PARSER_CONTEXT* ctx, uint8_t (&code)[16], int instance, const char* text) {
  uint8_t digit = 0;
  if (tpDigitCode(ctx, text, &digit) && tpInRange(instance, 16)) code[instance] = digit;
}

}  // namespace

void tpDtmfHandler(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                   const char* data) {
  if (name != nullptr) {
    if (ctx->tagLevel == 0) {
      ctx->itemKind = TpItemKind::DTMF;
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
    case TP_FIELD_DTMF_START: tpDigitCode(ctx, data, &dtmf.startCode); break;
    case TP_FIELD_DTMF_END: tpDigitCode(ctx, data, &dtmf.endCode); break;
    case TP_FIELD_DTMF_REDIRECTING: tpDigitCode(ctx, data, &dtmf.redirectingCode); break;
    case TP_FIELD_DTMF_INFORMATION: tpDigitCode(ctx, data, &dtmf.informationCode); break;
    case TP_FIELD_DTMF_PRIVATE: tpSetCodeDigit(ctx, dtmf.privateCode, ctx->privateCodeInstance, data); break;
    case TP_FIELD_DTMF_UNAVAIL: tpSetCodeDigit(ctx, dtmf.unavailCode, ctx->unavailCodeInstance, data); break;
    case TP_FIELD_DTMF_ERROR: tpSetCodeDigit(ctx, dtmf.errorCode, ctx->errorCodeInstance, data); break;
    case TP_FIELD_DTMF_PAUSE: tpParseField(ctx, data, &dtmf.DTMFpauseTimeout); break;
    case TP_FIELD_DTMF_SESSION: tpParseField(ctx, data, &dtmf.DTMFsessionTimeout); break;
    case TP_FIELD_DTMF_RINGAFTER: tpParseField(ctx, data, &dtmf.ringAfterClidTimeout); break;
    default: break;
  }
}
