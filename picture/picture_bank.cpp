#include "picture_bank.h"
