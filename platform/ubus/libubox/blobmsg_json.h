/* Conversion between blobmsg and JSON (json-c). */
#ifndef LIBUBOX_BLOBMSG_JSON_H
#define LIBUBOX_BLOBMSG_JSON_H

#include <json-c/json.h>

#include "blobmsg.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds the members of a JSON object as elements; false if it is not an object or a member
   cannot be added. */
bool blobmsg_add_object(struct blob_buf *b, json_object *obj);
bool blobmsg_add_json_element(struct blob_buf *b, const char *name, json_object *obj);
/* Parses text whose top level must be a JSON object. */
bool blobmsg_add_json_from_string(struct blob_buf *b, const char *str);

/* Replaces the text of a value when it returns non-null. */
typedef const char *(*blobmsg_json_format_t)(void *priv, struct blob_attr *attr);

/* Formats as JSON text (malloc'd, null on failure). `list`: print the contents of the container
   `attr` as an object; otherwise print the element's value. `indent` < 0: compact; otherwise
   TAB-indented, starting at that depth. */
char *blobmsg_format_json_with_cb(struct blob_attr *attr, bool list, blobmsg_json_format_t cb, void *priv,
                                  int indent);

static inline char *blobmsg_format_json(struct blob_attr *attr, bool list) {
    return blobmsg_format_json_with_cb(attr, list, NULL, NULL, -1);
}
static inline char *blobmsg_format_json_indent(struct blob_attr *attr, bool list, int indent) {
    return blobmsg_format_json_with_cb(attr, list, NULL, NULL, indent);
}

#ifdef __cplusplus
}
#endif

#endif
