/* Compiled as C: the public headers must stay valid C11. */
#include <string.h>

#include "vesk1/module.h"

/* Writes a stop request as a C module or client would lay it out. */
void WriteStopRequestFromC(PipeRequest* request) {
  float stop = VESK1_STOP_ITEM;
  memset(request, 0, sizeof *request);
  request->magic = RecordMagic;
  request->itemCount = 1;
  memcpy(&request->items[0], &stop, sizeof stop);
}
