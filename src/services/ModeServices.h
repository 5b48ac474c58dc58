#pragma once

#include "services/AIService.h"

#include <memory>

class DebugLogger;
class FileScannerService;
class TagUpdateService;
class UniversalTagReader;
class WriteSessionGate;
class WriteUndoManager;
class YearLookupService;

// What a processing mode (Auto or Manual) works with: one shape for both, so
// a test injects its own the same way into either. `fillDefaults` gives every
// member left empty the program's own: a new scanner, tag reader and lookup,
// an update service writing through a new writer into `undoLog`, the shared
// undo log, write gate and debug log, and the shared settings.
struct ModeServices {
    std::shared_ptr<FileScannerService> scanner;
    std::shared_ptr<UniversalTagReader> tagReader;
    std::shared_ptr<YearLookupService> lookupService;
    std::shared_ptr<TagUpdateService> updateService;
    DebugLogger* debugLog = nullptr;
    SettingsSource settings;
    WriteUndoManager* undoLog = nullptr;
    WriteSessionGate* gate = nullptr;

    void fillDefaults();
};
