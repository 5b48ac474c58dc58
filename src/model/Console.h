#pragma once

#include <QString>

// Console lines ("[Component] message") go to standard output, one whole line
// per call, safe to call from any thread.
namespace Console {

void line(const QString& text);

} // namespace Console
