#include "meter_state.h"
