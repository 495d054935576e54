#include "midi.h"
