/* The smallest useful computation module: each item of the worker's share is a float32 x and
 * its 8-byte result entry is the double x * x. vesk1_pipe loads one copy of this file per
 * worker (as vesk1_chzd) and calls its two entries. */
#include <string.h>
#include <vesk1/module.h>

#if defined(_WIN32)
#define MODULE_API __declspec(dllexport)
#else
#define MODULE_API __attribute__((visibility("default")))
#endif

/* Called once per worker at start-up with the worker's directory; nothing to prepare here. */
MODULE_API int CLOADFCHZD(const char* workerDirectory) {
  (void)workerDirectory;
  return 0;
}

/* Exactly one of the three buffer positions carries the worker's result buffer. */
MODULE_API int CHZD(void* first, void* second, void* third, void* slot) {
  unsigned char* buffer = first != NULL ? first : second != NULL ? second : third;
  if (buffer == NULL || slot == NULL) return 1;
  const WorkerSlot* workerSlot = (const WorkerSlot*)slot;
  int32_t count = workerSlot->request.itemCount;
  if (count > kMaxItems) count = kMaxItems; /* the buffer holds 255 entries */
  for (int32_t k = 0; k < count; ++k) {
    float x;
    memcpy(&x, &workerSlot->request.items[k], sizeof x);
    const double entry = (double)x * (double)x;
    memcpy(buffer + (size_t)k * kReplyEntrySize, &entry, sizeof entry);
  }
  return 0;
}
