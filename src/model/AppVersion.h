#pragma once

#include <QString>

// The version and build number shown in the About window and the Info tab,
// fixed at build time; "–" when the build left one empty.
QString appVersionString();
QString appBuildString();
