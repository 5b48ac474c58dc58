#include "model/Console.h"

#include "model/TextUtil.h"

#include <cstdio>
#include <mutex>

namespace Console {

void line(const QString& text) {
    static std::mutex mutex;
    // A value from a file or a server cannot start a line of its own, nor
    // make one line of hundreds of kilobytes.
    const QByteArray bytes = TextUtil::logLine(text).toUtf8() + '\n';
    std::lock_guard lock(mutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace Console
