// Preloaded into linux.uml (LD_PRELOAD) so that Debian 12's user-mode Linux
// runs on hosts whose processors have AMX (Sapphire Rapids and later).
//
// The UML kernel keeps each guest process's floating-point registers with
// ptrace's NT_X86_XSTATE register set, in a buffer sized for the features the
// host enables in XCR0 up to AVX-512 (2696 bytes). A host kernel that manages
// AMX sizes the set for the AMX tiles as well (11008 bytes) and takes a write
// of the set only whole: UML's first write then fails with EFAULT and the
// guest panics at its first process ("ptrace set fp regs failed, errno = 14").
// A short write of the set is completed here: the part UML wrote, followed by
// what the traced process holds beyond it, read just before. Only AMX lies
// beyond UML's part, and no guest process can use AMX (the guest kernel
// grants no permission for it), so that part is the processor's initial
// state either way.
//
// Every other request goes to the C library's ptrace unchanged.
#include <dlfcn.h>
#include <elf.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace {

using PtraceFunction = long (*)(enum __ptrace_request, ...);

PtraceFunction realPtrace = nullptr;

// Larger than any XSAVE area a processor has (11008 bytes with AMX). Static:
// the calls come on the UML kernel's own small stacks, where the C library's
// allocator has no business either.
constexpr std::size_t kLargestXstate = 64 * 1024;
alignas(64) unsigned char completed[kLargestXstate];
std::atomic_flag completedInUse = ATOMIC_FLAG_INIT;

// Resolved once at load, before linux.uml runs, not in the middle of its kernel.
__attribute__((constructor)) void FindRealPtrace() {
    realPtrace = reinterpret_cast<PtraceFunction>(::dlsym(RTLD_NEXT, "ptrace"));
}

// A write of the XSAVE set shorter than the host's set, completed with the
// traced process's own state beyond it. Returns false when it cannot be done,
// so that the caller makes the write as asked and gets the host's answer.
bool WriteCompletedXstate(pid_t pid, const iovec& asked, long& result) {
    if (completedInUse.test_and_set(std::memory_order_acquire)) return false;
    iovec whole{completed, sizeof completed};
    bool done = false;
    if (realPtrace(PTRACE_GETREGSET, pid, reinterpret_cast<void*>(NT_X86_XSTATE), &whole) == 0 &&
        whole.iov_len > asked.iov_len) {
        std::memcpy(completed, asked.iov_base, asked.iov_len);
        result = realPtrace(PTRACE_SETREGSET, pid, reinterpret_cast<void*>(NT_X86_XSTATE), &whole);
        done = true;
    }
    completedInUse.clear(std::memory_order_release);
    return done;
}

}  // namespace

extern "C" long ptrace(enum __ptrace_request request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    const pid_t pid = va_arg(arguments, pid_t);
    void* const address = va_arg(arguments, void*);
    void* const data = va_arg(arguments, void*);
    va_end(arguments);
    if (realPtrace == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    if (request == PTRACE_SETREGSET && reinterpret_cast<std::uintptr_t>(address) == NT_X86_XSTATE && data != nullptr) {
        const iovec& asked = *static_cast<const iovec*>(data);
        long result = 0;
        if (asked.iov_len < sizeof completed && WriteCompletedXstate(pid, asked, result)) return result;
    }
    return realPtrace(request, pid, address, data);
}
