// The process's standard output and standard error streams (platform/interface/console.h).
#pragma once

#include "platform/interface/console.h"
