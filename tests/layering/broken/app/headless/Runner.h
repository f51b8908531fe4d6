#include "app/pages/AnimationClock.h"
#include "app/settings/SettingsStore.h"
#include "effects/gif/GifAnimation.h"
