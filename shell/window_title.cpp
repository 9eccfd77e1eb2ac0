#include "shell/window_title.h"

char windowTitle[1024] = {};
