#include "services/ModeServices.h"

#include "model/DebugLogger.h"
#include "services/AIServiceFactory.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/WriteUndoManager.h"
#include "services/YearLookupService.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

void ModeServices::fillDefaults() {
    if (!scanner) {
        scanner = std::make_shared<FileScannerService>();
    }
    if (!tagReader) {
        tagReader = std::make_shared<UniversalTagReader>();
    }
    if (!lookupService) {
        lookupService = std::make_shared<YearLookupService>();
    }
    if (!undoLog) {
        undoLog = &WriteUndoManager::shared();
    }
    // Built after the undo log, so the writes are recorded where Undo looks.
    if (!updateService) {
        updateService = std::make_shared<TagUpdateService>(std::make_shared<UniversalTagWriter>(), undoLog);
    }
    if (!gate) {
        gate = &WriteSessionGate::shared();
    }
    if (!debugLog) {
        debugLog = &DebugLogger::shared();
    }
    if (!settings) {
        settings = sharedSettingsSource();
    }
}
