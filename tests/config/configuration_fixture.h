// Tests of the configuration start each from the record's defaults.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/argument_drivers.h"
#include "config/configuration.h"
#include "support/raised.h"

namespace kairovel::testing {

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override { TheConfiguration() = Configuration{}; }
    void TearDown() override { TheConfiguration() = Configuration{}; }

    static Configuration& Config() { return TheConfiguration(); }

    // Parses the arguments as start parameters (entry 0 is the service name).
    static void Parse(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"Kairovel");
        std::vector<const wchar_t*> pointers;
        for (const auto& argument : arguments) pointers.push_back(argument.c_str());
        ParseStartParameters(static_cast<std::uint32_t>(pointers.size()), pointers.data());
    }

    // The message the arguments raise.
    static std::wstring ParseError(std::vector<std::wstring> arguments) {
        return RaisedText([&] { Parse(std::move(arguments)); });
    }
};

}  // namespace kairovel::testing
