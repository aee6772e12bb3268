// The log file (platform/interface/log_file.h), with the error codes of its calls.
#pragma once

#include "platform/interface/log_file.h"
#include "platform/win_types.h"
