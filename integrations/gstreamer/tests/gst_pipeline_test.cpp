#include "gst_support.h"
