#pragma once

#include "model/ProcessingStatus.h"

#include <QString>

#include <optional>

// How a row's processing state is presented: colour name, symbol, short
// label, the sentence of the tooltip and popover, and whether a click on the
// badge opens the popover. Texts follow the language setting at each call.

// "secondary", "blue", "green", "orange" or "red"; also the status sort key.
QString colorName(const ProcessingStatus& status);
// The symbol's name ("clock", "magnifyingglass", "checkmark.circle", ...).
QString statusIcon(const ProcessingStatus& status);
QString statusLabel(const ProcessingStatus& status, const std::optional<QString>& discoveredGenre);
QString statusDetail(const ProcessingStatus& status, const std::optional<QString>& discoveredGenre);
// True for the states a user may want explained: skipped, error, no year found.
bool clickOpensPopover(const ProcessingStatus& status);
