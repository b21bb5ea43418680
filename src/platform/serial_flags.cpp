#include "platform/serial_flags.h"

#include <linux/serial.h>
#include <linux/tty_flags.h>
#include <sys/ioctl.h>

namespace kestrum {

const int kLowLatencySerialFlag = ASYNC_LOW_LATENCY;

namespace {

class SystemFlags : public ISerialFlags {
public:
    bool Read(int fd, int& flags) override
    {
        serial_struct record{};
        if (::ioctl(fd, TIOCGSERIAL, &record) != 0)
            return false;
        flags = record.flags;
        return true;
    }

    // The record is read again and written back whole: a driver refuses an unprivileged
    // change of anything beyond the few flags users may set.
    bool Write(int fd, int flags) override
    {
        serial_struct record{};
        if (::ioctl(fd, TIOCGSERIAL, &record) != 0)
            return false;
        record.flags = flags;
        return ::ioctl(fd, TIOCSSERIAL, &record) == 0;
    }
};

} // namespace

std::shared_ptr<ISerialFlags> SystemSerialFlags()
{
    static const std::shared_ptr<ISerialFlags> flags = std::make_shared<SystemFlags>();
    return flags;
}

} // namespace kestrum
