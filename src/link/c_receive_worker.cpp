#include "link/c_receive_worker.h"

#include <algorithm>

#include "link/c_port.h"
#include "platform/thread_priority.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

// How long a full receive buffer waits for its consumer before bytes are dropped.
constexpr int kConsumerGraceMs = 20;

} // namespace

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

// Reads what has arrived into the receive buffer. When the buffer is full the worker
// first gives a consumer a moment to take bytes out, so one late wake-up of a consumer
// that keeps up does not cost data; a buffer nobody empties still drops what does not fit.
void CReceiveWorker::ReadAll()
{
    CByteBuffer& buffer = port_.ReceiveBuffer();
    bool readAny = false;
    while (!stopFlag_) {
        size_t room = buffer.Room();
        if (room == 0 && buffer.WaitForRoom(kConsumerGraceMs))
            room = buffer.Room();
        const uint32_t wanted =
            room == 0 ? kReadBlockSize : static_cast<uint32_t>(std::min<size_t>(room, kReadBlockSize));
        lastCount_ = port_.ReadAvailable(block_, wanted);
        if (lastCount_ == 0)
            break;
        readAny = true;
        buffer.Append(block_, lastCount_);
    }
    // A readable line that yields nothing must not turn the loop into a busy spin.
    if (!readAny)
        SleepMs(1);
}

} // namespace kestrum
