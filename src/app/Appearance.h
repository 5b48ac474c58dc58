#pragma once

#include "model/AppAppearance.h"

#include <QPalette>

// The palette of an appearance: Fusion's light or a dark palette; for
// `system` the palette the platform gave the program at start-up.
QPalette paletteFor(AppAppearance appearance);

// Applies the appearance to the whole program (every window, dialog and
// message box). `system` restores the start-up style and palette.
void setAppAppearance(AppAppearance appearance);
