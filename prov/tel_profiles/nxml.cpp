#include "nxml.h"

#include <cstring>
#include <new>

namespace {

enum class NxmlState {
  PROLOGUE,       // leading whitespace and one "<?...?>" declaration
  DECLARATION,    // inside "<?...?>"
  TEXT,           // text up to the next '<'
  TAG_OPEN,       // just after '<'
  TAG_NAME,       // name of an opening tag
  CLOSE_NAME,     // name of a closing tag
  CLOSE_REST,     // after a closing tag's name, up to '>'
  IN_TAG,         // between attributes
  ATTR_NAME,      // an attribute's name
  ATTR_EQUALS,    // after an attribute name, before '='
  ATTR_VALUE_START,  // after '='
  ATTR_VALUE,        // inside a value
  SLASH_IN_TAG,   // '/' inside an opening tag, expecting '>'
  DONE,
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

struct nxml_handle {
  nxml_settings settings;
  void* user;
  NxmlState state;
  int level;  // tree level: raised by '<', lowered by each closing step
  bool prologueQuestion;   // saw '?' inside the declaration
  bool prologueStarted;    // saw '<' of a possible declaration
  bool valueQuoted;
  bool textContinued;  // the last chunk ended inside text: its end is still to be reported
  char nameCache[NXML_NAME_CACHE_SIZE];
  int nameLength;
  bool nameOverflow;
};

namespace {

void nameReset(nxml_handle* h) {
  h->nameLength = 0;
  h->nameOverflow = false;
}

void nameAppend(nxml_handle* h, char c) {
  if (h->nameLength < NXML_MAX_NAME) {
    h->nameCache[h->nameLength++] = c;
  } else {
    h->nameOverflow = true;
  }
}

void reportName(nxml_handle* h, void (*callback)(nxml_t, const char*, int)) {
  h->nameCache[h->nameLength] = '\0';
  if (callback) callback(h, h->nameCache, h->nameLength);
  nameReset(h);
}

// A closing step; true when the document is complete.
bool lowerLevel(nxml_handle* h) {
  --h->level;
  if (h->level < 1) {
    h->state = NxmlState::DONE;
    return true;
  }
  return false;
}

}  // namespace

int xmlOpen(nxml_t* handle, const nxml_settings* settings, void* user) {
  if (handle == nullptr || settings == nullptr) return 0;
  nxml_handle* h = new (std::nothrow) nxml_handle{};
  if (h == nullptr) return 0;
  h->settings = *settings;
  h->user = user;
  h->state = NxmlState::PROLOGUE;
  *handle = h;
  return 1;
}

void xmlClose(nxml_t handle) { delete handle; }

void* xmlUser(nxml_t handle) { return handle ? handle->user : nullptr; }

bool xmlNameOverflow(nxml_t handle) { return handle && handle->nameOverflow; }

int xmlWrite(nxml_t h, const char* buffer, size_t length, const char** end) {
  if (h == nullptr || buffer == nullptr) return 0;
  if (h->state == NxmlState::DONE) {
    if (end) *end = buffer;
    return 1;
  }
  const nxml_settings& cb = h->settings;
  size_t i = 0;
  size_t textStart = 0;
  // Flushes the text or attribute value that runs from textStart to i.
  auto flushText = [&](bool more) {
    if ((i > textStart || (h->textContinued && !more)) && cb.data) {
      cb.data(h, buffer + textStart, static_cast<int>(i - textStart), more ? 1 : 0);
    }
    h->textContinued = more && (i > textStart || h->textContinued);
  };
  auto flushValue = [&](bool more) {
    if (cb.attribute_value && (i > textStart || !more)) {
      cb.attribute_value(h, buffer + textStart, static_cast<int>(i - textStart), more ? 1 : 0);
    }
  };
  if (h->state == NxmlState::TEXT || h->state == NxmlState::ATTR_VALUE) textStart = 0;

  for (; i < length; ++i) {
    const char c = buffer[i];
    switch (h->state) {
      case NxmlState::PROLOGUE:
        if (h->prologueStarted) {
          h->prologueStarted = false;
          if (c == '?') {
            h->state = NxmlState::DECLARATION;
          } else {
            // Not a declaration: this '<' opened the first tag.
            h->state = NxmlState::TAG_OPEN;
            --i;  // look at this character again in the tag state
          }
        } else if (c == '<') {
          h->prologueStarted = true;
          ++h->level;
        } else if (!isSpace(c)) {
          h->state = NxmlState::TEXT;
          textStart = i;
        }
        break;
      case NxmlState::DECLARATION:
        if (h->prologueQuestion && c == '>') {
          --h->level;
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        }
        h->prologueQuestion = c == '?';
        break;
      case NxmlState::TEXT:
        if (c == '<') {
          flushText(false);
          ++h->level;
          h->state = NxmlState::TAG_OPEN;
        }
        break;
      case NxmlState::TAG_OPEN:
        nameReset(h);
        if (c == '/') {
          if (lowerLevel(h)) return 1;  // cannot complete here: the level was just raised
          h->state = NxmlState::CLOSE_NAME;
        } else if (c == '>') {
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        } else if (isSpace(c) || c == '=') {
          h->state = NxmlState::IN_TAG;  // '=' ends a name, so it cannot begin one
        } else {
          nameAppend(h, c);
          h->state = NxmlState::TAG_NAME;
        }
        break;
      case NxmlState::TAG_NAME:
        if (isSpace(c) || c == '=' || c == '/' || c == '>') {
          reportName(h, cb.tag_begin);
          h->state = NxmlState::IN_TAG;
          --i;  // the delimiter is handled between attributes
        } else {
          nameAppend(h, c);
        }
        break;
      case NxmlState::IN_TAG:
        if (c == '>') {
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        } else if (c == '/') {
          h->state = NxmlState::SLASH_IN_TAG;
        } else if (!isSpace(c) && c != '=') {
          nameReset(h);
          nameAppend(h, c);
          h->state = NxmlState::ATTR_NAME;
        }
        break;
      case NxmlState::ATTR_NAME:
        if (isSpace(c) || c == '=' || c == '/' || c == '>') {
          reportName(h, cb.attribute_begin);
          h->state = NxmlState::ATTR_EQUALS;
          --i;
        } else {
          nameAppend(h, c);
        }
        break;
      case NxmlState::ATTR_EQUALS:
        if (c == '=') {
          h->state = NxmlState::ATTR_VALUE_START;
        } else if (c == '>') {
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        } else if (c == '/') {
          h->state = NxmlState::SLASH_IN_TAG;
        } else if (!isSpace(c)) {
          // An attribute without a value: the next attribute starts here.
          h->state = NxmlState::IN_TAG;
          --i;
        }
        break;
      case NxmlState::ATTR_VALUE_START:
        if (isSpace(c)) break;
        h->valueQuoted = c == '"';
        h->state = NxmlState::ATTR_VALUE;
        textStart = h->valueQuoted ? i + 1 : i;
        break;
      case NxmlState::ATTR_VALUE:
        if (h->valueQuoted ? c == '"' : (isSpace(c) || c == '>' || c == '/')) {
          flushValue(false);
          h->state = NxmlState::IN_TAG;
          if (!h->valueQuoted) --i;
        }
        break;
      case NxmlState::SLASH_IN_TAG:
        if (c == '>') {
          // "/>": an empty element ends here.
          if (cb.tag_end) cb.tag_end(h, "", 0);
          if (lowerLevel(h)) {
            if (end) *end = buffer + i + 1;
            return 1;
          }
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        } else {
          h->state = NxmlState::IN_TAG;
          --i;
        }
        break;
      case NxmlState::CLOSE_NAME:
        if (isSpace(c) || c == '>') {
          reportName(h, cb.tag_end);
          h->state = NxmlState::CLOSE_REST;
          --i;
        } else {
          nameAppend(h, c);
        }
        break;
      case NxmlState::CLOSE_REST:
        if (c == '>') {
          if (lowerLevel(h)) {
            if (end) *end = buffer + i + 1;
            return 1;
          }
          h->state = NxmlState::TEXT;
          textStart = i + 1;
        }
        break;
      case NxmlState::DONE:
        if (end) *end = buffer + i;
        return 1;
    }
  }
  // The chunk ended inside text or a value: report what there is, to be continued.
  if (h->state == NxmlState::TEXT) {
    flushText(true);
  } else if (h->state == NxmlState::ATTR_VALUE) {
    flushValue(true);
  }
  if (end) *end = buffer + length;
  return 0;
}
