#include "app/window/MainDialog.h"
