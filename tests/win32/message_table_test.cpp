// The message table built into kairovel.exe, read as the event viewer reads
// it: event 0x60020001 is its one insertion string and a line break. (Wine's
// event log stores nothing, but its FormatMessageW reads a module's table.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(MessageTable, TheProgramsEventIsItsTextAndALineBreak) {
    const std::string program = KAIROVEL_BINARY;
    const HMODULE module = ::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << ::GetLastError();
    const wchar_t* insertion = L"Corrected clock deviation of 12 milliseconds.";
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insertion)};
    wchar_t text[256] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                          0x60020001, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 256,
                                          reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    EXPECT_EQ(std::wstring(text, length), std::wstring(insertion) + L"\r\n");
    EXPECT_EQ(::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, 0x60020002, 0,
                               text, 256, nullptr),
              0u);  // the table has that one message only
    ::FreeLibrary(module);
}

}  // namespace
