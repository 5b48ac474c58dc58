#pragma once

#include <QString>

// Console lines ("[Component] message") go to standard output, one whole line
// per call, safe to call from any thread. Control characters in the text are
// written out and a long text is cut (TextUtil::logLine).
namespace Console {

void line(const QString& text);

} // namespace Console
