# The core's test programs in a Windows build, run under Wine (one ctest test per program).
#
# Left out: the suites of the simulator's own programs (pty and network servers are the
# Linux program's), and the test files that drive a pseudo-terminal or POSIX signals and
# sockets of their own. The Win32 serial backend is tested end to end instead, through a
# Wine COM port on a pseudo-terminal (tests/windows/run_under_wine.sh).
list(APPEND own_build_dirs sim)
# Each drives a pseudo-terminal (link/pty_pair.h), a loopback server of POSIX sockets, a
# named pipe (mkfifo) or signals (kill) of its own.
set(windows_posix_only_tests "/(c_settings_file_test|port_list_test|interrupt_watcher_test|several_ports_test|\
line_error_log_test|network_port_open_test|serial_device_factory_test|serial_port_diagnosis_test|\
serial_port_lines_test|serial_port_test|image_header_test|load_images_test|load_run_test|network_open_test|\
reply_handling_test|port_diagnosis_test|rfc2217_client_test|serial_line_batch_test|device_info_query_test|\
display_unit_run_test|low_latency_test|low_latency_load_test|wire_trace_files_test)\\.cpp$")

# Skipped by name in the Windows run, besides the slow real-time cases:
# - their subject is Linux alone: ports named by /dev paths (on Windows "-p /dev/ttyUSB0"
#   means COM/dev/ttyUSB0, as "-p com3" means COMcom3), sysfs details of USB adapters,
#   /usr and /opt as install trees;
# - they compare a path the program built with one the test spelled with "/", which
#   Windows writes with "\" (the files are the same).
set(windows_skipped_tests "*Slow.*:SettingsLocationTest.*:SettingsEnvironment.TheProcessTakesUsrAndOptAsInstallTrees:\
PortDetailsTest.*:CommandLine.PortValuesGetTheComPrefixUnlessPathsUrlsOrDevices:\
KestrumAppTest.FirstRunCreatesTheFileAndStartsWithTheFlagOn:\
KestrumAppTest.SettingsFileTooLargeToReadIsReportedAndTheDefaultsApply:\
KestrumAppTest.PortsNamedOnTheCommandLineOrStoredBecomeChoosable:CliConfigTest.StoredNonsenseFallsBackQuietly:\
CliConfigTest.InstalledCopyReadsTheUsersSettingsNeverOnesBesideIt:CliConfigTest.MeaninglessCommandLineValuesAreRefused:\
CliArguments.TraceBeforeTheCommandOrAmongItsOptions")

function(add_windows_test name)
  add_test(NAME windows.${name} COMMAND test_${name} --gtest_filter=-${windows_skipped_tests})
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 600 LABELS windows)
endfunction()
