#include "app/FileLimit.h"

#include "model/Console.h"

#include <QString>

#include <algorithm>
#include <sys/resource.h>

std::uint64_t computeSoftLimit(std::uint64_t /*soft*/, std::uint64_t hard) {
    return std::min<std::uint64_t>(hard, 65536);
}

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const std::uint64_t soft = computeSoftLimit(limit.rlim_cur, limit.rlim_max);
    limit.rlim_cur = static_cast<rlim_t>(soft);
    (void)::setrlimit(RLIMIT_NOFILE, &limit);
    Console::line(QStringLiteral("[App] File descriptor limit set to ") + QString::number(soft));
}
