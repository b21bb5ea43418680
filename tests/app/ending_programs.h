#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/c_settings_file.h"
#include "app/temp_dir.h"

namespace kestrum::test {

// What a settings file holds before two programs end at the same moment.
inline const std::string kBeforeTheEnding = "; kept\n[Other]\nkey=1\n";

// One program's exit in one rewrite: its own keys, and shared ones that carry its number,
// each program taking the shared keys in another order.
inline bool EndProgram(const std::string& path, int program)
{
    CSettingsFile settings(path);
    settings.HoldWrites();
    for (int k = 0; k < 30; ++k) {
        settings.WriteInt("P" + std::to_string(program), "K" + std::to_string(k), program * 100 + k);
        const int shared = program == 1 ? k % 10 : 9 - k % 10;
        settings.WriteInt("PortSettings", "S" + std::to_string(shared), program);
    }
    return settings.WriteHeld();
}

// Every key of both programs is there, and the keys both wrote come all from one of them.
inline void ExpectBothEndingsWhole(const std::string& path, int round)
{
    CSettingsFile settings(path);
    for (int program = 1; program <= 2; ++program) {
        for (int k = 0; k < 30; ++k) {
            ASSERT_EQ(settings.GetInt("P" + std::to_string(program), "K" + std::to_string(k), -1), program * 100 + k)
                << "round " << round << "\n" << ReadFile(path);
        }
    }
    const int winner = settings.GetInt("PortSettings", "S0", -1);
    for (int k = 1; k < 10; ++k) {
        ASSERT_EQ(settings.GetInt("PortSettings", "S" + std::to_string(k), -1), winner) << "round " << round;
    }
    ASSERT_EQ(ReadFile(path).rfind(kBeforeTheEnding, 0), 0u);
}

}  // namespace kestrum::test
