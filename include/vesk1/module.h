/*
 * vesk1 computation-module interface.
 *
 * The records a client exchanges with vesk1_pipe over its pipe, and the worker slot the server
 * hands to a computation module's CHZD entry. All numbers are little-endian; integers are 32-bit
 * two's complement and floats IEEE single precision. Usable from C (C11) and C++.
 */
#ifndef VESK1_MODULE_H
#define VESK1_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Marks both records: as an int32 in a request, as the float32 16664519.0 in a reply. */
enum { RecordMagic = 16664519 };
/* Bit pattern of the reply's float32 magic, 16664519.0f. */
#define VESK1_REPLY_MAGIC_BITS 0x4B7E47C7u
/* Item 0 of a request, read as a float32, equal to this stops the server (bits 0xC479C000). */
#define VESK1_STOP_ITEM (-999.0f)

enum {
  kPipeRequestSize = 2704,
  kPipeReplySize = 2048,
  kModuleDataSize = 1520, /* leading module data of a request */
  kRequestItemCapacity = 287,
  kMaxItems = 255, /* reply entries: 2040 / 8 */
  kResultBufferSize = 2048,
  kReplyEntrySize = 8,

  /* Byte offsets of the request's fields. */
  kItemCountOffset = 1520,
  kMagicOffset = 1524,
  kItemsOffset = 1532,
  kSelectSecondOffset = 2680,
  kSelectThirdOffset = 2684,
  kSelectFirstOffset = 2700,

  /* Byte offsets of the reply's trailer. */
  kElapsedOffset = 2040,
  kReplyMagicOffset = 2044
};

/* One request, exactly 2704 bytes. Items are opaque 4-byte words to the server. */
typedef struct PipeRequest {
  unsigned char moduleData[1520]; /* handed to the module unchanged */
  int32_t itemCount;              /* number N of items */
  int32_t magic;                  /* RecordMagic */
  unsigned char moduleData2[4];   /* not read by the server */
  uint32_t items[287];            /* item k at byte 1532 + 4k */
  int32_t selectSecond;           /* non-zero: result buffer in CHZD's second position */
  int32_t selectThird;            /* non-zero: result buffer in CHZD's third position */
  unsigned char moduleData3[12];  /* not read by the server */
  int32_t selectFirst;            /* non-zero: result buffer in CHZD's first position */
} PipeRequest;

/* One reply, exactly 2048 bytes. Bytes after the last entry keep what they held before. */
typedef struct PipeReply {
  unsigned char entries[255][8]; /* entry k is the module's result for item k */
  float elapsedMs;               /* wall-clock milliseconds of the job, never <= 0 */
  float magic;                   /* 16664519.0f */
} PipeReply;

/* CLOADFCHZD: called once per worker at start-up with its directory ("./<N>/"). */
typedef int (*ModuleLoadEntry)(const char* workerDirectory);
/* CHZD: exactly one of the three buffer positions carries the 2048-byte result buffer; the
 * fourth argument is the worker's WorkerSlot. */
typedef int (*ModuleComputeEntry)(void* first, void* second, void* third, void* slot);

#define VESK1_MODULE_LOAD_NAME "CLOADFCHZD"
#define VESK1_MODULE_COMPUTE_NAME "CHZD"

/* Everything a worker shares with the main thread and its module. The first 2704 bytes are
 * the job's request with itemCount set to this worker's share and the share's items moved to
 * the front. goFlag and doneFlag are whole 32-bit words handed over without locks. */
typedef struct WorkerSlot {
  PipeRequest request;
  void* resultBuffer; /* this worker's 2048-byte result buffer, never cleared */
#if UINTPTR_MAX == 0xFFFFFFFFu
  uint32_t unused; /* not written by the server */
#endif
  double jobValue;     /* 0.0 before every job; read only by the module */
  int32_t workerIndex; /* the worker's index from 0 */
#if UINTPTR_MAX != 0xFFFFFFFFu
  uint32_t reserved;
#endif
  ModuleComputeEntry computeEntry; /* CHZD of this worker's module instance */
  int32_t doneFlag;                /* set to 1 by the worker when the job's calls returned */
  int32_t goFlag;                  /* set to 1 by the main thread to hand over a job */
} WorkerSlot;

#ifdef __cplusplus
#define VESK1_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VESK1_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

VESK1_STATIC_ASSERT(sizeof(float) == 4 && sizeof(double) == 8, "IEEE float and double");
VESK1_STATIC_ASSERT(sizeof(PipeRequest) == 2704, "PipeRequest size");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, itemCount) == 1520, "itemCount offset");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, magic) == 1524, "magic offset");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, items) == 1532, "items offset");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, selectSecond) == 2680, "selectSecond offset");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, selectThird) == 2684, "selectThird offset");
VESK1_STATIC_ASSERT(offsetof(PipeRequest, selectFirst) == 2700, "selectFirst offset");
VESK1_STATIC_ASSERT(sizeof(PipeReply) == 2048, "PipeReply size");
VESK1_STATIC_ASSERT(offsetof(PipeReply, elapsedMs) == 2040, "elapsedMs offset");
VESK1_STATIC_ASSERT(offsetof(PipeReply, magic) == 2044, "reply magic offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, request) == 0, "request offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, resultBuffer) == 2704, "resultBuffer offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, jobValue) == 2712, "jobValue offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, workerIndex) == 2720, "workerIndex offset");
#if UINTPTR_MAX == 0xFFFFFFFFu
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, computeEntry) == 2724, "computeEntry offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, doneFlag) == 2728, "doneFlag offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, goFlag) == 2732, "goFlag offset");
VESK1_STATIC_ASSERT(sizeof(WorkerSlot) == 2736, "WorkerSlot size");
#else
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, computeEntry) == 2728, "computeEntry offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, doneFlag) == 2736, "doneFlag offset");
VESK1_STATIC_ASSERT(offsetof(WorkerSlot, goFlag) == 2740, "goFlag offset");
VESK1_STATIC_ASSERT(sizeof(WorkerSlot) == 2744, "WorkerSlot size");
#endif

#undef VESK1_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* VESK1_MODULE_H */
