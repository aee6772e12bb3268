// The process's main function: the arguments in the program's wide text, then the entry point.
#include <string>
#include <vector>

#include "clock/local_clock.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "shell/entry_point.h"

int main(int argc, char** argv) {
    // The local clock saves the time adjustment in force now, before anything
    // can change it, and puts it back when the program ends.
    kairovel::TheLocalClock();
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(kairovel::platform::AnsiToWide(argv[i]));
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    const int exitCode = kairovel::EntryPoint(argc, pointers.data());
    // The service's workers (the scheduler, a pass, the TIME server) are never
    // told to stop: they end with the process, before anything they use goes.
    if (argc <= 1) kairovel::platform::ExitProcess(static_cast<std::uint32_t>(exitCode));
    return exitCode;
}
