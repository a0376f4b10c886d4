/* The TM server's client library (libtmconn.so): the nine functions the program imports.
 * Texts are NUL-terminated Windows-1251. tmcBatch, at the end, is an extension of this library. A
 * handle of 0 means "no connection"; every call with handle 0, an unknown handle, a null buffer or
 * a zero size fails in the way its result describes and touches no memory: tmcStatus -1, tmcAnalog
 * a value above 3.2e38, tmcAccumFull low 16 bits 0, tmcEnumObjects low 8 bits 0, tmcGetObjectName
 * 0, tmcSystemTime 0, tmcIsConnected 0. */
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

/* Extension beyond the nine functions: many requests on the handle's connection without
 * waiting for each answer. A server vendor's library may lack it: callers look it up at run time
 * (dlsym(library, TMC_BATCH_SYMBOL)) and make one call per request when it is missing.
 *
 * Each item names a request and receives its answer, with the failure convention of the single
 * call of the same kind (status -1, analog FLT_MAX, accumulator 0, enumeration 0, name 0). At
 * most `window` requests (0: TMC_BATCH_DEFAULT_WINDOW) are in flight at a time; the server
 * answers them in order. A server that stops answering, or goes away and does not come back at
 * once, fails the rest of the batch within the bound of one single call. Returns how many items
 * got an answer from the server. */
#define TMC_BATCH_SYMBOL "tmcBatch"
#define TMC_BATCH_DEFAULT_WINDOW 4096u

enum TmcBatchKind {
  TMC_BATCH_STATUS = 1, /* ch, rtu, point -> status */
  TMC_BATCH_ANALOG = 2, /* ch, rtu, point, time, archive -> analog */
  TMC_BATCH_ACCUM = 3,  /* ch, rtu, point, time -> result, values */
  TMC_BATCH_ENUM = 4,   /* cls, max, numbers, ch, rtu, point -> result (count) */
  TMC_BATCH_NAME = 5    /* cls, ch, rtu, point, name, size -> result (1: named) */
};

typedef struct TmcBatchItem {
  /* The request. */
  uint32_t kind; /* a TmcBatchKind */
  uint16_t cls;
  uint16_t ch;
  uint16_t rtu;
  uint16_t point;
  uint16_t archive;
  uint8_t max;
  const char* time;
  uint16_t* numbers; /* room for max numbers */
  char* name;        /* room for size bytes */
  uint32_t size;
  /* The answer. */
  int16_t status;
  float analog;
  uint32_t result;
  float values[2]; /* accumulator: meter reading, reduced power */
} TmcBatchItem;

typedef uint32_t (*TmcBatchFunction)(uint32_t handle, TmcBatchItem* items, uint32_t count,
                                     uint32_t window);
uint32_t tmcBatch(uint32_t handle, TmcBatchItem* items, uint32_t count, uint32_t window);

/* Extension beyond the nine functions: link events through a channel of their own, so that no
 * server message can be taken for one. Looked up like tmcBatch (TMC_LINK_SYMBOL). With a
 * callback set (process-wide; null restores the default), the library's own events ("connected
 * to ...", "connection lost: ...", why a connection attempt failed) go to it and no longer to
 * the message callbacks; server messages still go there. where: "host:port\server"; detail:
 * the server's refusal reason, the resolver's or system's text, or why a link broke (may be
 * empty). Called on the thread of the library call, as the message callback is. */
#define TMC_LINK_SYMBOL "tmcSetLinkCallback"

enum TmcLinkEvent {
  TMC_LINK_CONNECTED = 1,
  TMC_LINK_LOST = 2,
  TMC_LINK_REFUSED = 3,         /* the server refused the names; detail: its reason */
  TMC_LINK_NOTHING_LISTENS = 4, /* refused at TCP level */
  TMC_LINK_UNKNOWN_HOST = 5,    /* detail: the resolver's text */
  TMC_LINK_NO_ANSWER = 6,       /* no connection or handshake within the bound */
  TMC_LINK_FAILED = 7           /* any other cause; detail says which */
};

typedef void (*TmcLinkCallback)(uint32_t event, const char* where, const char* detail);
typedef void (*TmcSetLinkCallbackFunction)(TmcLinkCallback callback);
void tmcSetLinkCallback(TmcLinkCallback callback);

#ifdef __cplusplus
}
#endif

#endif
