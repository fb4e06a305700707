/* Small helpers shared by the blob, blobmsg and ubus headers: array sizes and byte order. */
#ifndef LIBUBOX_UTILS_H
#define LIBUBOX_UTILS_H

#include <endian.h>
#include <stdint.h>

#ifndef ARRAY_SIZE
#define ARRAY_SIZE(arr) (sizeof(arr) / sizeof((arr)[0]))
#endif

#ifndef __packed
#define __packed __attribute__((packed))
#endif

#define cpu_to_be16(x) ((uint16_t)htobe16((uint16_t)(x)))
#define cpu_to_be32(x) ((uint32_t)htobe32((uint32_t)(x)))
#define cpu_to_be64(x) ((uint64_t)htobe64((uint64_t)(x)))
#define be16_to_cpu(x) ((uint16_t)be16toh((uint16_t)(x)))
#define be32_to_cpu(x) ((uint32_t)be32toh((uint32_t)(x)))
#define be64_to_cpu(x) ((uint64_t)be64toh((uint64_t)(x)))

#endif
