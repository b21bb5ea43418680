#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/c_record_file.h"
#include "app/c_settings_file.h"
#include "app/port_details.h"
#include "app/program_identity.h"
#include "cli/cli_config.h"

namespace kestrum {

// Exit statuses beside the loader's result codes 0..9 and a check's 10 and 11.
constexpr int kExitRecordFailed = 12;
constexpr int kExitUsage = 64;

// The program as a production record names it.
inline const std::string kCliProgram = std::string("kestrum-cli ") + kVersionText;

// Each command prints its result on out and its progress on err; returns the exit status.
// A load works on every port of config.portNames at once; json: its summary as JSON;
// record (when given, open): where each port's production record goes.
int RunLoadCommand(const CliConfig& config, CSettingsFile& stored, bool json, std::FILE* out, std::FILE* err,
                   CRecordFile* record = nullptr);
int RunInfoCommand(const CliConfig& config, CSettingsFile& stored, bool json, std::FILE* out, std::FILE* err);
// The ports with what is known of their adapters; json: one array for scripts.
int RunPortsCommand(const std::vector<PortDetails>& ports, bool json, std::FILE* out);

}  // namespace kestrum
