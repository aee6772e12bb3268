// The program's entry point, as Windows calls a console program that takes
// its arguments in wide text: wmain. On Windows the C run-time library calls
// it (linked with -municode); on Linux the platform's own main does
// (posix/program_entry.cpp), with the arguments turned into wide text from
// the narrow code page. The program defines it.
#pragma once

extern "C" int wmain(int argc, wchar_t** argv);
