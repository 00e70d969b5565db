#include "textbuffer.h"
