#pragma once

// What the benchmarks share: kestrum-sim as a child process, image files, CPU time.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace kestrum::bench {

inline double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// User and system time of this process so far.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

inline std::string WriteImage(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// kestrum-sim as a child process with the given options; its port is its first output
// line. Ended (SIGTERM) and waited for on destruction. Create it on the thread that
// outlives it: the child ends with the thread that started it.
class SimProcess {
public:
    SimProcess(const std::string& program, const std::vector<std::string>& options)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // A bench that crashes takes its simulator with it instead of leaving it running.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            std::vector<const char*> args = {program.c_str()};
            for (const std::string& option : options)
                args.push_back(option.c_str());
            args.push_back(nullptr);
            execv(program.c_str(), const_cast<char* const*>(args.data()));
            _exit(127);
        }
        close(out[1]);
        char line[256] = {};
        FILE* stream = fdopen(out[0], "r");
        if (stream && fgets(line, sizeof line, stream))
            port_ = std::string(line, strcspn(line, "\n"));
        if (stream)
            fclose(stream);
    }
    ~SimProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& Port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::string port_;
};

} // namespace kestrum::bench
