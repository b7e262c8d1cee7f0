#include "control/reader.h"
