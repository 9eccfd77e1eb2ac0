#pragma once
// The message pump an update run calls between its steps: it handles what is queued and returns at
// once, never waiting for a message.

#include <cstdint>

// Takes one message off the thread's queue and handles it (the progress dialog's keyboard navigation
// first). False when the queue was empty. Throws the integer 0 when the message is WM_QUIT, which is
// thereby consumed; messages behind it stay queued.
bool pumpOneMessage();

// Handles every pending message. 0 when the queue is empty; 1 when the quit message came or handling
// a message failed with an exception, which then goes no further.
uint32_t pumpMessages();
