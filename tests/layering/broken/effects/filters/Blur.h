#include "effects/models/TfliteNet.h"
#include "effects/models/PersonSegmenter.h"
