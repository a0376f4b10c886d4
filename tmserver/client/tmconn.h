/* The TM server's client library (libtmconn.so): the nine functions the program imports.
 * Texts are NUL-terminated Windows-1251. A handle of 0 means "no connection"; every call with
 * handle 0, an unknown handle, a null buffer or a zero size fails in the way its result describes
 * and touches no memory:
 *   tmcStatus -1, tmcAnalog a value above 3.2e38, tmcAccumFull low 16 bits 0,
 *   tmcEnumObjects low 8 bits 0, tmcGetObjectName 0, tmcSystemTime 0, tmcIsConnected 0. */
#ifndef VELT_TMCONN_H
#define VELT_TMCONN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Link changes and server messages: length of the text, the text (NUL-terminated Windows-1251),
 * a value not used. */
typedef void (*TmcMessageCallback)(uint32_t length, const char* text, uint32_t unused);

/* host: "name-or-address[:port]", empty for this machine; null with the pair form
 * "A{B}" in server, where A and B are each "host\server". Returns 0 on failure. */
uint32_t tmcConnect(const char* host, const char* server, const char* client,
                    TmcMessageCallback callback, uint32_t reserved);
int32_t tmcDisconnect(uint32_t handle);
int16_t tmcIsConnected(uint32_t handle);
/* Writes the server's time "DD.MM.YYYY HH:MM:SS" into buffer (at most 24 bytes with the NUL). */
int32_t tmcSystemTime(uint32_t handle, char* buffer, uint32_t reserved);
int16_t tmcStatus(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point);
float tmcAnalog(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point, const char* time,
                uint16_t archive);
/* values[0]: meter reading, values[1]: reduced power; filled when the low 16 bits are non-zero. */
uint32_t tmcAccumFull(uint32_t handle, uint16_t ch, uint16_t rtu, uint16_t point, float* values,
                      const char* time);
/* Low 8 bits of the result: how many numbers were written to buffer (at most max). */
uint32_t tmcEnumObjects(uint32_t handle, uint16_t cls, uint8_t max, uint16_t* buffer, uint16_t ch,
                        uint16_t rtu, uint16_t point);
/* 1: the NUL-terminated name (cut to size - 1 bytes) is in buffer. */
int16_t tmcGetObjectName(uint32_t handle, uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point,
                         char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
