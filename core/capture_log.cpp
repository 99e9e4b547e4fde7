#include "core/capture_log.h"

Q_LOGGING_CATEGORY(captureLog, "mipoquibbo.capture", QtWarningMsg)
