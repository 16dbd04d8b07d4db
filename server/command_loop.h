// The command loop: one request at a time, split over the workers, gathered in item order,
// timed and answered.
#ifndef VESK1_SERVER_COMMAND_LOOP_H
#define VESK1_SERVER_COMMAND_LOOP_H

namespace vesk1 {

// Serves requests until the client stops the server or the pipe fails; never returns. Ends the
// process with status 1 on a failed read (printing the system's code), a wrong magic, the stop
// command, an item count outside 0..255 or a failed write.
[[noreturn]] void ServeRequests();

}  // namespace vesk1

#endif  // VESK1_SERVER_COMMAND_LOOP_H
