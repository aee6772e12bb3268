// main on Linux: the arguments in wide text, then the program's wmain.
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/program_entry.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(kairovel::platform::AnsiToWide(argv[i]));
    std::vector<wchar_t*> pointers;
    for (std::wstring& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
