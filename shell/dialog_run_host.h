#pragma once
// An update run hosted by the progress dialog: the label and the two bars are the dialog's controls,
// the pump is the shell's message pump and the flags are the process-wide stop flags.

#include "engine/run_host.h"

RunHost dialogRunHost();
