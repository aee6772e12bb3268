// A user-mode Linux guest: a Linux kernel running as an ordinary process, with
// a clock of its own that programs inside may set (the host's stays untouched).
//
// The guest runs guest_init.sh with the host's root as its read-only root.
// The host reads the guest's clocks through a serial line wired to a socket,
// which the guest cannot change: the clock agent inside answers each request
// with its clocks, the host timestamps both ends of the exchange and keeps the
// fastest of a few. Console lines that start with "@@ " are the init script's
// markers, each kept with the moment the host saw it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kairovel::testing {

inline constexpr long kNominalTick = 10000;     // microseconds per tick at USER_HZ 100
inline constexpr long kFrequencyScale = 65536;  // adjtimex frequency units per ppm

// The host's CLOCK_REALTIME in nanoseconds.
std::int64_t HostNanoseconds();

// One reading of the guest's clocks from the host.
struct GuestClockSample {
    std::int64_t host = 0;            // host CLOCK_REALTIME, middle of the exchange (ns)
    std::int64_t guestRealtime = 0;   // ns
    std::int64_t guestMonotonic = 0;  // ns
    std::int64_t guestRaw = 0;        // ns
    std::int64_t roundTrip = 0;       // ns

    // The guest's CLOCK_REALTIME minus the host's.
    double OffsetMilliseconds() const { return static_cast<double>(guestRealtime - host) / 1e6; }
};

// What adjtimex reads inside the guest.
struct GuestKernelRate {
    long tick = 0;       // microseconds per USER_HZ tick
    long frequency = 0;  // ppm x 2^16
    int state = 0;       // adjtimex's return value (the clock state)

    // The clock's rate against the oscillator in ppm: tick and frequency add up.
    double Ppm() const {
        return static_cast<double>(tick - kNominalTick) * 100.0 + static_cast<double>(frequency) / kFrequencyScale;
    }
};

struct GuestMarker {
    std::string text;      // the line after "@@ "
    std::int64_t host = 0; // when the host read it (host CLOCK_REALTIME, ns)
};

class UmlGuest {
public:
    // Boots linux.uml without CAP_SYS_TIME running the init script; the kernel
    // arguments add devices (a network link, say) and settings for the script.
    // The kernel and the few programs of the kernel stage need about 60 MB.
    UmlGuest(const std::string& initScript, const std::vector<std::string>& kernelArguments, int memoryMegabytes = 96);
    // Ends the guest if it still runs (Finish with a short bound).
    ~UmlGuest();
    UmlGuest(const UmlGuest&) = delete;
    UmlGuest& operator=(const UmlGuest&) = delete;

    // The first marker starting with prefix, waiting at most bound for it.
    std::optional<GuestMarker> WaitForMarker(const std::string& prefix, std::chrono::milliseconds bound);
    // Every marker so far.
    std::vector<GuestMarker> Markers() const;
    // The fastest of a few exchanges; empty when the agent does not answer.
    std::optional<GuestClockSample> ReadClock();
    std::optional<GuestKernelRate> ReadKernelRate();

    // Reads the clock every period on a thread of its own until StopRecording.
    void StartRecording(std::chrono::milliseconds period);
    void StopRecording();
    std::vector<GuestClockSample> Samples() const;

    // Tells the agent to quit, after which the guest powers off, and waits for
    // the guest to end within bound (else ends it). Returns linux.uml's exit code.
    int Finish(std::chrono::milliseconds bound);
    // Everything the guest wrote to its console.
    std::string Console() const;

private:
    // Sends a one-byte request and reads the three numbers of the answer.
    bool Exchange(char request, std::int64_t (&answer)[3], std::int64_t& sent, std::int64_t& received);
    void ReadConsole();
    int WaitForExit(std::chrono::milliseconds bound);

    pid_t pid_ = -1;
    int exitCode_ = -1;
    int serial_ = -1;   // the host's end of the guest's serial line
    int console_ = -1;  // the read end of the guest's console
    std::mutex serialMutex_;

    mutable std::mutex consoleMutex_;
    std::condition_variable consoleChanged_;
    std::string consoleText_;
    std::vector<GuestMarker> markers_;
    std::atomic<bool> stopReading_{false};
    std::thread consoleReader_;

    mutable std::mutex samplesMutex_;
    std::vector<GuestClockSample> samples_;
    bool recording_ = false;
    std::condition_variable recordingChanged_;
    std::thread recorder_;
};

}  // namespace kairovel::testing
