// The POSIX backend: the platform services as the operating system gives them.
#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace tiko {
namespace native = posix;
}

#include "platform/backend.inc"
