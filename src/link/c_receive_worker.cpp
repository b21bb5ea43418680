#include "link/c_receive_worker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "link/c_port.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

// Above-normal priority where the process may raise it; silently normal otherwise.
constexpr int kWorkerNice = -5;

void RaiseThreadPriority()
{
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, kWorkerNice);
}

}  // namespace

CReceiveWorker::CReceiveWorker(CPort& port) : port_(port)
{
    port_.ReceiveBuffer().Consume(-1);
}

CReceiveWorker::~CReceiveWorker()
{
    RequestStop();
    Join();
}

void CReceiveWorker::Start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { Run(); });
    startEvent_.Set();
}

void CReceiveWorker::RequestStop()
{
    stopFlag_ = true;
    stopEvent_.Set();
}

void CReceiveWorker::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void CReceiveWorker::Run()
{
    RaiseThreadPriority();
    stopEvent_.Reset();
    startEvent_.Wait(-1);
    exited_ = false;
    while (!stopFlag_ && !stopEvent_.Test()) {
        uint32_t mask = 0;
        const bool canWait = port_.WaitEvent(mask);
        port_.TouchActivity();
        if (mask & EV_RXCHAR)
            ReadAll();
        if (!canWait)
            break;
    }
    exited_ = true;
}

void CReceiveWorker::ReadAll()
{
    bool readAny = false;
    while (!stopFlag_) {
        lastCount_ = port_.ReadAvailable(block_, kReadBlockSize);
        if (lastCount_ == 0)
            break;
        readAny = true;
        port_.ReceiveBuffer().Append(block_, lastCount_);
    }
    // A readable line that yields nothing must not turn the loop into a busy spin.
    if (!readAny)
        SleepMs(1);
}

}  // namespace kestrum
