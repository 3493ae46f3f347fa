#include "app/loop_state.h"

MainLoop mainLoop;
