// Values of the service's parameter key as anyone with the registry may have
// stored them, of every type and width, loaded as the service loads them at
// start: the installed marker, every configuration value, and the persisted
// adjustment. The store is the SQLite one of the Linux build in a folder on tmpfs.
//
// The input is a list of values, each: a byte choosing the name, a byte
// choosing the type (0xF0 and above: the next four bytes are the type), two
// bytes of length (little-endian) and the data.
#include <cstdlib>
#include <string>
#include <vector>

#include "clock/registry_adjustment_store.h"
#include "config/configuration.h"
#include "config/registry_store.h"
#include "fuzz_support.h"
#include "platform/parameter_store.h"

namespace {

using kairovel::platform::ParameterStore;

constexpr std::size_t kLargestValueBytes = 1500;  // more than any room a load gives
constexpr std::uint8_t kRawTypeChoice = 0xF0;
constexpr std::uint32_t kTypeChoices = 12;  // REG_NONE to REG_QWORD

std::vector<std::wstring> ValueNames() {
    std::vector<std::wstring> names;
    for (const kairovel::ParameterRow& row : kairovel::ParameterTable()) names.emplace_back(row.name);
    names.emplace_back(L"IsInstalled");
    names.emplace_back(kairovel::RegistryAdjustmentStore::kValueName);
    names.emplace_back(L"SomethingElse");
    return names;
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= std::uint32_t{Byte()} << (8 * i);
        return value;
    }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        count = std::min(count, size_ - std::min(at_, size_));
        std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + count);
        at_ += count;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("KAIROVEL_ROOT", kairovel::fuzz::ScratchFolder().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    namespace p = kairovel::platform;
    fuzz::UseDiscardingLogger();
    static const std::vector<std::wstring> names = ValueNames();

    ParameterStore().DeleteKey(p::StoreKey::Parameters);
    ValuesToStore values;
    values.Add(L"IsInstalled", p::REG_BINARY, {1, 0, 0, 0});
    Input input(data, size);
    while (!input.Empty()) {
        const std::wstring& name = names[input.Byte() % names.size()];
        const std::uint8_t typeChoice = input.Byte();
        const std::uint32_t type = typeChoice >= kRawTypeChoice ? input.Word() : typeChoice % kTypeChoices;
        const std::size_t length = (input.Byte() | (std::size_t{input.Byte()} << 8)) % (kLargestValueBytes + 1);
        values.Add(name, type, input.Bytes(length));
    }
    std::size_t failed = 0;
    if (ParameterStore().WriteValues(p::StoreKey::Parameters, p::IfMissing::Create, values.values(), failed) !=
        p::ERROR_SUCCESS) {
        __builtin_trap();  // the scratch store must always be writable
    }

    TheConfiguration() = Configuration{};
    IsServiceInstalled();
    try {
        GetParametersFromRegistry();
        if (TheConfiguration().NumberOfTimeSources > Configuration::kMaxSources) __builtin_trap();
    } catch (const std::wstring&) {
        // A value that cannot be loaded stops the load with its message.
    }
    try {
        TheRegistryAdjustmentStore().Read();
    } catch (const std::wstring&) {
    }
    return 0;
}
