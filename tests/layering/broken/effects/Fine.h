#include "platform/system/Handles.h"
#include <vector>
