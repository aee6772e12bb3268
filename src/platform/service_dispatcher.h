// The service side of the service control manager (platform/interface/service_dispatcher.h),
// with the codes of the records it reports.
#pragma once

#include "platform/interface/service_dispatcher.h"
#include "platform/service_types.h"
#include "platform/win_types.h"
