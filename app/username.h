#pragma once

#include <QString>

// The name of the user this process runs as; the platform is asked first and
// the environment is the fallback. Empty when neither knows.
QString currentUserName();
