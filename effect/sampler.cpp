#include "effect.h"

EffectState gEffectState;
