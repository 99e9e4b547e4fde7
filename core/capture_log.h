#pragma once
// What the capture commands and the screen grabbers log (mipoquibbo.capture).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(captureLog)
