#pragma once

#include <functional>
#include <string>
#include <vector>

#include "protocol/c_device_link.h"

namespace kestrum {

class CSettingsFile;

// Where the receiver link keeps its echo-off string between runs: the settings file (none:
// the default is used and nothing is written) and whether saving on exit is on.
struct LinkSettings {
    CSettingsFile* file = nullptr;
    std::function<bool()> saveOnExit;
};

// The receiver's protocol object: finds the receiver on the line, silences its echo,
// reads its rate and moves it to the rate the port started at (Connect), and asks it
// tagged questions (Query).
class CReceiverLink : public CDeviceLink {
public:
    static constexpr const char* kSection = "PortSettings";
    static constexpr const char* kEchoOffKey = "EchoOff";
    static constexpr const char* kDefaultEchoOff = "#OFF#";

    explicit CReceiverLink(LinkSettings settings = {}, const ProtocolTiming& timing = {});
    ~CReceiverLink() override;

    // rate and handshake are not used: the port's own state decides. tries is the
    // number of passes over the rate list (at least one).
    int Connect(CPort& port, uint32_t rate, int handshake, CEvent* cancel, int tries) override;
    bool Query(CPort& port, const std::string& tag, const std::string& command, std::string& reply,
               int timeoutMs) override;

    const std::string& EchoOff() const { return echoOff_; }

    // The rates one pass tries: the starting rate, then the port's rates from the highest.
    static std::vector<uint32_t> BuildRateList(uint32_t startRate, const std::vector<uint32_t>& portRates);
    // The decimal number at the start of a reply (after blanks); 0 when there is none.
    static long ReadRate(const std::string& reply);

private:
    int Search(CPort& port, const std::vector<uint32_t>& rates, int tries, uint32_t& found);
    void SendEchoOffAndProbe(CPort& port);
    int ReadReceiverRate(CPort& port, uint32_t& receiverRate);
    int MoveReceiverTo(CPort& port, uint32_t startRate, uint32_t foundRate, uint32_t receiverRate);
    int CheckHandshake(CPort& port);
    // Fails the step: kConnectCancelled when cancelled or closed, else posts text.
    int Fail(CPort& port, const char* text, int result);
    int ReplyTimeoutNow(CPort& port);
    bool Settle(CPort& port) { return Pause(port, timing_.settlePauseMs); }

    LinkSettings settings_;
    std::string echoOff_;
};

}  // namespace kestrum
