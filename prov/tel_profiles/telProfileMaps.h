// Tag tables and name maps of the telephony profile format (internal to the profile loader).
#pragma once

#include "vrgEndptTypes.h"

struct PARSER_CONTEXT;
struct TAG_MAP_ENTRY;

// Called at a tag's start with its name (data null) and with its text (name null).
typedef void (*TAG_HANDLER)(PARSER_CONTEXT* ctx, const TAG_MAP_ENTRY* entry, const char* name,
                            const char* data);

// A named value; tables end with a null name.
struct VALUE_MAP {
  const char* name;
  int value;
};

// What a tag's text sets.
enum TP_FIELD {
  TP_FIELD_NONE,
  // top-level items
  TP_FIELD_INT,     // decimal integer
  TP_FIELD_NAMED,   // one of the names of the entry's value map
  TP_FIELD_BOOL,    // "false" 0, "true" 1
  // tone profile
  TP_FIELD_TONE_NAME,
  TP_FIELD_TONE_REPETITIONS,
  TP_FIELD_TONE_TONES,
  TP_FIELD_TONE_NOSTEADY,
  TP_FIELD_COMP_REPETITIONS,
  TP_FIELD_COMP_SOUND,
  TP_FIELD_COMP_SILENCE,
  TP_FIELD_COMP_MODULATE,
  TP_FIELD_COMP_MODPERCENT,
  TP_FIELD_COMP_FREQUENCIES,
  TP_FIELD_FREQ_HERTZ,
  TP_FIELD_FREQ_LEVEL,
  // ring profile
  TP_FIELD_RING_NAME,
  TP_FIELD_RING_LONG,
  TP_FIELD_RING_PATTERN,
  // FSK caller-ID parameters
  TP_FIELD_FSK_NAME,
  TP_FIELD_FSK_AMPLITUDE,
  TP_FIELD_FSK_MARK,
  TP_FIELD_FSK_SPACE,
  TP_FIELD_FSK_SEIZES,
  TP_FIELD_FSK_MARKS,
  // DTMF caller-ID parameters
  TP_FIELD_DTMF_NAME,
  TP_FIELD_DTMF_DBLEVEL,
  TP_FIELD_DTMF_PULSETIME,
  TP_FIELD_DTMF_START,
  TP_FIELD_DTMF_END,
  TP_FIELD_DTMF_REDIRECTING,
  TP_FIELD_DTMF_INFORMATION,
  TP_FIELD_DTMF_PRIVATE,
  TP_FIELD_DTMF_UNAVAIL,
  TP_FIELD_DTMF_ERROR,
  TP_FIELD_DTMF_PAUSE,
  TP_FIELD_DTMF_SESSION,
  TP_FIELD_DTMF_RINGAFTER,
};

// One tag of a level; tables end with a null tag name.
struct TAG_MAP_ENTRY {
  const char* tagName;
  TAG_HANDLER procFunc;
  const TAG_MAP_ENTRY* childMap;  // null for a leaf
  TP_FIELD field;
  const VALUE_MAP* valueMap;  // names of TP_FIELD_NAMED values
};

struct TAG_PROV_MAP {
  const char* tagName;
  EPPROV provItem;
};

extern const TAG_MAP_ENTRY rootTagMap[];
extern const TAG_MAP_ENTRY toneProfileTagMap[];
extern const TAG_MAP_ENTRY toneTagMap[];
extern const TAG_MAP_ENTRY frequencyTagMap[];
extern const TAG_MAP_ENTRY ringProfileTagMap[];
extern const TAG_MAP_ENTRY CIDFskParmsTagMap[];
extern const TAG_MAP_ENTRY CIDDtmfParmsTagMap[];
extern const TAG_PROV_MAP tagProvItemMap[];
extern const VALUE_MAP pteDTMFDDGTMap[];

// The handlers of the tables (telProfile.cpp).
void tpCountryHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);
void tpIntItemHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);
void tpToneHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);
void tpRingHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);
void tpFskHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);
void tpDtmfHandler(PARSER_CONTEXT*, const TAG_MAP_ENTRY*, const char*, const char*);

// Case-insensitive lookups: the item of a name (EPPROV_LastItem when unknown) and a named value.
EPPROV tpLookupProvItem(const char* name);

// The values a plain integer item may take; items without a stated range take any 32-bit value.
struct TP_INT_RANGE {
  EPPROV item;
  long long min;
  long long max;
};
void tpIntItemRange(EPPROV item, long long* min, long long* max);
// The built-in value of a simple item (the North American one), which a refused item keeps when
// the store holds none; false for an item that has none.
bool tpIntItemDefault(EPPROV item, int32_t* value);
bool tpLookupValue(const VALUE_MAP* map, const char* name, int* value);
