#include "ui/frame.h"

int fadeCounter = 0;
