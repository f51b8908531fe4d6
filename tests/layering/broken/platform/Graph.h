#include "engine/CaptureEngine.h"
