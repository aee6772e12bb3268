// The process's entry point: the arguments in the program's wide text, then the entry point.
#include "clock/local_clock.h"
#include "platform/program_entry.h"
#include "shell/entry_point.h"

int wmain(int argc, wchar_t** argv) {
    // The local clock saves the time adjustment in force now, before anything
    // can change it, and puts it back when the program ends.
    kairovel::TheLocalClock();
    return kairovel::EntryPoint(argc, argv);
}
