#include "zucam.h"
