#pragma once

#include <QString>

// Folders that hold the settings (with API keys) and the debug log.
namespace PrivateFiles {

// Creates every missing folder of `path` with mode 0700; folders that exist
// are left as they are. True when the folder exists afterwards.
bool makeDirectory(const QString& path);

} // namespace PrivateFiles
