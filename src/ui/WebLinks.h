#pragma once

#include <QUrl>

#include <functional>

// The one way the program opens a web address in the user's browser. Only
// http and https addresses are opened; anything else (file:, javascript:,
// a custom scheme from a server's answer) is refused.
namespace WebLinks {

// True when the address was handed on.
bool open(const QUrl& url);

// Replaces what receives the accepted addresses (QDesktopServices by default);
// an empty function restores the default. For tests.
void setOpener(std::function<bool(const QUrl&)> opener);

} // namespace WebLinks
