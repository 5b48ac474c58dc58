#include "model/AppVersion.h"

namespace {

QString orDash(const char* text) {
    const QString value = QString::fromUtf8(text).trimmed();
    return value.isEmpty() ? QStringLiteral("\u2013") : value;
}

} // namespace

QString appVersionString() {
    return orDash(VELMORA_VERSION);
}

QString appBuildString() {
    return orDash(VELMORA_BUILD_NUMBER);
}
