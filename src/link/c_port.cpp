#include "link/c_port.h"

#include <cstdio>

#include "link/c_receive_worker.h"
#include "platform/local_time.h"
#include "platform/tick_count.h"

namespace kestrum {

namespace {

struct RateEntry {
    uint32_t rate;
    uint32_t replyTimeoutMs;
};

constexpr RateEntry kRateTable[] = {
    {300, 3000},  {600, 2400},   {1200, 1500},  {2400, 900},   {4800, 900},
    {9600, 900},  {14400, 300},  {19200, 300},  {28800, 300},  {38400, 300},
    {57600, 300}, {115200, 300}, {153600, 300}, {230400, 300}, {460800, 300},
};

constexpr uint32_t kDefaultReplyTimeoutMs = 300;
constexpr int kCloseSettleMs = 200;

// " (hh:mm:ss.mmm) " of the local time.
std::string LocalTimeStamp()
{
    const LocalClockTime now = LocalTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, " (%02u:%02u:%02u.%03u) ", static_cast<unsigned>(now.fields.tm_hour),
                  static_cast<unsigned>(now.fields.tm_min), static_cast<unsigned>(now.fields.tm_sec),
                  static_cast<unsigned>(now.milliseconds));
    return text;
}

} // namespace

CPort::CPort() : lastActivity_(GetTickCount())
{
    for (const RateEntry& entry : kRateTable) {
        rates_.push_back(entry.rate);
        replyTimeouts_.push_back(entry.replyTimeoutMs);
    }
    worker_ = std::make_unique<CReceiveWorker>(*this);
}

CPort::~CPort() = default;

void CPort::StopReceiveWorker(ISerialDevice* device)
{
    if (!worker_)
        return;
    worker_->RequestStop();
    if (device)
        device->Release();
    worker_->Join();
}

uint32_t CPort::SendLine(const std::string& text)
{
    receiveBuffer_.Consume(-1);
    const std::string line = text + "\n";
    return Write(reinterpret_cast<const uint8_t*>(line.data()), static_cast<uint32_t>(line.size()));
}

bool CPort::SetBaudRate(uint32_t)
{
    return false;
}

int CPort::SetHandshake(int)
{
    return 0;
}

uint32_t CPort::GetBaudRate()
{
    return currentRate_;
}

int CPort::GetHandshake()
{
    return 0;
}

bool CPort::SetWordLength(int)
{
    return false;
}

bool CPort::SetParity(int)
{
    return false;
}

bool CPort::SetStopBits(int)
{
    return false;
}

bool CPort::ToggleRts()
{
    return false;
}

bool CPort::ToggleDtr()
{
    return false;
}

bool CPort::ReservedQuery()
{
    return true;
}

bool CPort::ReadSettings()
{
    return false;
}

int32_t CPort::ReservedValue()
{
    return 115200;
}

std::string CPort::GetPortName()
{
    return portName_;
}

std::string CPort::SecondName()
{
    return secondName_;
}

void CPort::StartReceive()
{
    if (worker_)
        worker_->Start();
}

uint32_t CPort::ReplyTimeout(uint32_t rate) const
{
    for (size_t i = 0; i < rates_.size(); ++i)
        if (rates_[i] == rate)
            return replyTimeouts_[i];
    return kDefaultReplyTimeoutMs;
}

std::string CPort::LastError() const
{
    std::lock_guard lock(lastErrorMutex_);
    return lastError_;
}

void CPort::ReportError(const std::string& text)
{
    {
        std::lock_guard lock(lastErrorMutex_);
        lastError_ = text;
    }
    status_.SetStatus(text);
}

void CPort::TouchActivity()
{
    lastActivity_ = GetTickCount();
}

std::string CPort::DescribeLineErrors(uint32_t flags)
{
    bool restarted = false;
    int32_t total = 0;
    std::string text;
    {
        std::lock_guard lock(lineErrorMutex_);
        text = CLineErrorTable::Count(flags, lineErrorCounts_, restarted);
        total = lineErrorCounts_.total;
        if (restarted)
            errorLog_.Consume(-1);
        const std::string line = std::to_string(total) + LocalTimeStamp() + text + "\n";
        errorLog_.Append(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    }
    errorEvent_.Set();
    return text;
}

void ClosePort(std::unique_ptr<CPort> port)
{
    if (!port)
        return;
    port->abort_ = true;
    if (port->worker_)
        port->worker_->RequestStop();
    if (ISerialDevice* device = port->GetHandle())
        device->Release();
    SleepMs(kCloseSettleMs);
    port->WaitReceiveStopped();
}

} // namespace kestrum
