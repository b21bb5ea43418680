# The core's test programs in a Windows build, run under Wine (one ctest test per program).
#
# Left out: the suites of the simulator's own programs (pty and network servers are the
# Linux program's), the cases that need a POSIX system of their own, and the suites of
# the termios backend. The Win32 serial backend is tested end to end instead, through a
# Wine COM port on a pseudo-terminal (tests/windows/run_under_wine.sh).
list(APPEND own_build_dirs sim)
# - NAME_posix_test.cpp: the cases of a subject that need a named pipe, file modes or
#   symbolic links, fork, signals or a pseudo-terminal; the rest of the subject is in
#   NAME_test.cpp, which runs;
# - the port as the termios backend makes it, on a pseudo-terminal: serial_port_test,
#   serial_port_lines_test, serial_port_diagnosis_test, serial_device_factory_test,
#   port_diagnosis_test, low_latency_test, low_latency_load_test;
# - Linux's port names and port list: port_list_test, several_ports_test;
# - POSIX signals (Ctrl-C reaches a Windows program as a console event, which
#   run_under_wine.sh sends): interrupt_watcher_test;
# - the simulator's network server, which the Windows build does not have:
#   network_port_open_test.
set(windows_posix_only_tests "(_posix_test|/(serial_port_test|serial_port_lines_test|serial_port_diagnosis_test|\
serial_device_factory_test|port_diagnosis_test|low_latency_test|low_latency_load_test|port_list_test|\
several_ports_test|interrupt_watcher_test|network_port_open_test))\\.cpp$")

# Skipped by name in the Windows run, besides the slow real-time cases:
# - their subject is Linux alone: ports named by /dev paths (on Windows "-p /dev/ttyUSB0"
#   means COM/dev/ttyUSB0, as "-p com3" means COMcom3), sysfs details of USB adapters,
#   /usr and /opt as install trees;
# - the C runtime under Wine refuses to make a sparse file of 2 TiB ("File too large"):
#   LoadSession.ProgressRangeOfAHugeImageIsCapped;
# - they compare a path the program built with one the test spelled with "/", which
#   Windows writes with "\" (the files are the same).
set(windows_skipped_tests "*Slow.*:SettingsLocationTest.*:SettingsEnvironment.TheProcessTakesUsrAndOptAsInstallTrees:\
PortDetailsTest.*:CommandLine.PortValuesGetTheComPrefixUnlessPathsUrlsOrDevices:\
KestrumAppTest.FirstRunCreatesTheFileAndStartsWithTheFlagOn:\
KestrumAppTest.SettingsFileTooLargeToReadIsReportedAndTheDefaultsApply:\
KestrumAppTest.PortsNamedOnTheCommandLineOrStoredBecomeChoosable:CliConfigTest.StoredNonsenseFallsBackQuietly:\
CliConfigTest.InstalledCopyReadsTheUsersSettingsNeverOnesBesideIt:CliConfigTest.MeaninglessCommandLineValuesAreRefused:\
CliArguments.TraceBeforeTheCommandOrAmongItsOptions:\
LoadSession.ProgressRangeOfAHugeImageIsCapped")

function(add_windows_test name)
  add_test(NAME windows.${name} COMMAND test_${name} --gtest_filter=-${windows_skipped_tests})
  set_tests_properties(windows.${name} PROPERTIES TIMEOUT 600 LABELS windows)
endfunction()
