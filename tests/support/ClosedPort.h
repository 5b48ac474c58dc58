#pragma once

#include <QString>

// "http://127.0.0.1:<port>" for a loopback port that was free a moment ago
// and has nothing listening on it: requests to it are refused at once.
QString closedLoopbackUrl();
