#pragma once
// The message that reports how an update run ended.

#include <cstdint>

enum class OutcomeBox { None, Information, Warning };

struct Outcome {
    OutcomeBox box;
    const char* text;  // null when no box is shown
};

// The box for a run's result, compared as an unsigned 32-bit value: information for success, a
// warning for a damaged program (0x80000001 to 0x80000003), a failed write (0x80000004) or a failed
// uninstall-list update (0x80000005); nothing for a stop by the user (0x80000006), a closed dialog
// (0x80000007) or any other value.
Outcome outcomeFor(uint32_t result);

// Shows the box outcomeFor gives, if any, and returns once it has been closed.
void showOutcome(uint32_t result);
