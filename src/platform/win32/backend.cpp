// The Windows backend: the platform services as the system gives them.
#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace tiko {
namespace native = win32;
}

#include "platform/backend.inc"
