#include "shell/program.h"

namespace kairovel {

std::wstring& ProgramPath() {
    static std::wstring path;
    return path;
}

}  // namespace kairovel
