#include "ui/WebLinks.h"

#include <QDesktopServices>

namespace {

std::function<bool(const QUrl&)>& opener() {
    static std::function<bool(const QUrl&)> current;
    return current;
}

} // namespace

bool WebLinks::open(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return false;
    }
    return opener() ? opener()(url) : QDesktopServices::openUrl(url);
}

void WebLinks::setOpener(std::function<bool(const QUrl&)> replacement) {
    opener() = std::move(replacement);
}
