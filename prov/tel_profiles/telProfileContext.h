// The profile loader's parser context, shared by its tag handlers and its tokenizer callbacks.
#pragma once

#include <cstdint>

#include "nxml.h"
#include "telProfileMaps.h"
#include "vrgProvValues.h"

inline constexpr int PARSER_MAX_LEVELS = 10;    // depth of the tag-table stack
inline constexpr int PARSER_MAX_ELEMENTS = 32;  // open elements followed at once
inline constexpr int PARSER_MAX_TEXT = 128;     // longest value text
inline constexpr int PARSER_MAX_ATTR = 32;      // longest attribute value
inline constexpr int PARSER_MAX_REASON = 320;   // why the current item is refused

enum class TpItemKind { NONE, INT, TONE, RING, FSK, DTMF };

// What the start of an open element did, so that its end undoes exactly that.
enum class TpElementKind : uint8_t {
  PUSHED,       // a known tag: its table level was pushed
  TRANSPARENT,  // an unknown tag: its text is dropped, its children are read at this level
};

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
  char itemError[PARSER_MAX_REASON];  // the errors of the current item, each with its value

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
  TpItemKind itemKind;
  char itemTagName[NXML_NAME_CACHE_SIZE];
  char itemName[PARSER_MAX_TEXT + 1];  // the name that selected a profile's item ("ToneDial")
  bool itemValueSeen;
  bool ringTypeSet;
  bool fieldTextSeen;  // the open field has had its text
  TpElementKind elements[PARSER_MAX_ELEMENTS];
  char elementNames[PARSER_MAX_ELEMENTS][NXML_NAME_CACHE_SIZE];
  int elementDepth;
  char text[PARSER_MAX_TEXT + 1];
  int textLength;
  bool textOverflow;
  char attrValue[PARSER_MAX_ATTR + 1];
  int attrLength;
  bool attrOverflow;
  const char* fileName;  // named in every error line
  int refusedItems;
  int refusedWithoutDefault;  // refused items that have no built-in value: the profile is refused
  int numEndpoints;
};

// Marks the current item in error and keeps the reason (which names the value) for the one line
// that refuses the item when it closes, after the reasons already kept; outside an item the line
// is logged at once.
void tpItemError(PARSER_CONTEXT* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Logs the one error line of a refused item: the file, the item, the reasons with their values
// and what becomes of the item.
void tpReportRefusedItem(PARSER_CONTEXT* ctx, const char* outcome = "the item keeps its default");
// A whole decimal number within [min, max]; anything else is an item error.
bool tpParseInt(PARSER_CONTEXT* ctx, const char* text, long long min, long long max,
                long long* value);
// Clears the value under construction and the item's context for the next item.
void tpClearItem(PARSER_CONTEXT* ctx);
