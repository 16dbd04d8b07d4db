// All console output of vesk1_pipe goes through Print, which flushes every message at once.
#ifndef VESK1_SERVER_CONSOLE_H
#define VESK1_SERVER_CONSOLE_H

namespace vesk1 {

// printf-style; the text is written to standard output and flushed.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vesk1

#endif  // VESK1_SERVER_CONSOLE_H
