#include "loader/c_load_line.h"

#include "platform/tick_count.h"

namespace kestrum {

CLoadLine::CLoadLine(CSerialPort& port, LoadRequest& request, CStatusChannel& status)
    : port_(port), request_(request), status_(status)
{
}

CLoadLine::ReadResult CLoadLine::ReadByte(int ms, uint8_t& byte)
{
    if (!held_.empty()) {
        byte = held_.front();
        held_.pop_front();
        return ReadResult::Byte;
    }
    const uint32_t start = GetTickCount();
    for (;;) {
        if (port_.ReadAvailable(&byte, 1) == 1)
            return ReadResult::Byte;
        if (Stopped())
            return ReadResult::Stopped;
        const uint32_t elapsed = GetTickCount() - start;
        ISerialDevice* device = port_.GetHandle();
        if (gone_ || device == nullptr || elapsed >= static_cast<uint32_t>(ms))
            return ReadResult::None;
        const int got =
            device->Wait(ISerialDevice::kReadable | ISerialDevice::kReleased, ms - static_cast<int>(elapsed));
        if ((got & ISerialDevice::kGone) && port_.ReadAvailable(&byte, 1) == 0) {
            NoteGone();
            return ReadResult::None;
        }
        if (got & ISerialDevice::kGone)
            return ReadResult::Byte;
    }
}

std::vector<uint8_t> CLoadLine::TakeArrived()
{
    std::vector<uint8_t> bytes(held_.begin(), held_.end());
    held_.clear();
    uint8_t chunk[256];
    for (uint32_t got; (got = port_.ReadAvailable(chunk, sizeof chunk)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

void CLoadLine::PutBack(const uint8_t* data, size_t count)
{
    held_.insert(held_.begin(), data, data + count);
}

void CLoadLine::SetLineTwice(bool (ISerialDevice::*setLine)(bool), bool on)
{
    ISerialDevice* device = port_.GetHandle();
    if (device == nullptr)
        return;
    (device->*setLine)(on);
    (device->*setLine)(on);
}

void CLoadLine::NoteIfGone()
{
    ISerialDevice* device = port_.GetHandle();
    if (device != nullptr && (device->Wait(ISerialDevice::kReadable, 0) & ISerialDevice::kGone))
        NoteGone();
}

void CLoadLine::NoteGone()
{
    if (gone_)
        return;
    gone_ = true;
    const std::string lost = port_.LostConnectionText();
    status_.SetStatus(lost.empty() ? "Lost connection with port " + port_.GetPortName() : lost);
}

}  // namespace kestrum
