// Handles to the system's kernel objects (platform/interface/kernel_object.h),
// with the error codes of the calls that take them.
#pragma once

#include "platform/interface/kernel_object.h"
#include "platform/last_error.h"
#include "platform/win_types.h"
