// Every test process gets its own temporary config, data and cache folders,
// so that nothing a test does (settings, debug log) reaches the user's files.
#include <QDir>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

[[maybe_unused]] const bool isolatedUserFolders = [] {
    std::string base = (QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX")).toStdString();
    if (::mkdtemp(base.data()) == nullptr) {
        return false;
    }
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const std::string dir = base + "/" + name;
        QDir().mkpath(QString::fromStdString(dir));
        ::setenv(name, dir.c_str(), 1);
    }
    return true;
}();

} // namespace
