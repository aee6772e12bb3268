// Compiles every facility's interface beside the whole of windows.h, so that a
// name windows.h makes a macro of can never slip into platform/interface,
// whichever of its headers the backend's files happen to include today.
#include <winsock2.h>
#include <windows.h>
#include <lm.h>
#include <wininet.h>

#undef s_addr  // winsock2.h's alias of its own in_addr's field (see win32/winsock.cpp)

#include "platform/interface/clock.h"
#include "platform/interface/console.h"
#include "platform/interface/console_control.h"
#include "platform/interface/event_log.h"
#include "platform/interface/kernel_object.h"
#include "platform/interface/log_file.h"
#include "platform/interface/netapi.h"
#include "platform/interface/privilege.h"
#include "platform/interface/process.h"
#include "platform/interface/parameter_store.h"
#include "platform/interface/service_dispatcher.h"
#include "platform/interface/service_manager.h"
#include "platform/interface/service_types.h"
#include "platform/interface/threads.h"
#include "platform/interface/url_fetch.h"
#include "platform/interface/win_types.h"
#include "platform/interface/winsock.h"
