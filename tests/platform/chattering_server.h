#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/loopback_listener.h"
#include "platform/rfc2217_telnet_codec.h"

namespace kestrum::test {

// A server that keeps sending and stops taking part in the COM-port negotiation at a
// chosen point: a plain TCP serial server passing a device's output on, or a broken
// COM-port server. Every client that connects gets the same treatment.
class ChatteringServer : private Rfc2217TelnetCodec::Sink {
public:
    enum class Goes {
        Nowhere,              // never takes up COM-port control
        ComPortControl,       // takes it up and answers no question
        FirstQuestionAnswered // also answers the first rate question, then none
    };

    explicit ChatteringServer(Goes goes) : goes_(goes)
    {
        thread_ = std::thread([this] { Serve(); });
    }
    ~ChatteringServer() override
    {
        stop_ = true;
        thread_.join();
    }
    ChatteringServer(const ChatteringServer&) = delete;
    ChatteringServer& operator=(const ChatteringServer&) = delete;

    std::string Url() const { return listener_.Url(); }

    // Wait (at most some seconds) until a client has connected / had its question
    // answered; false if that never happened.
    bool AwaitConnection() const { return AwaitCount(connections_); }
    bool AwaitAnswer() const { return AwaitCount(answers_); }

private:
    static constexpr int kChatEveryMs = 10;

    struct Client {
        CTcpSocket socket;
        Rfc2217TelnetCodec codec;
        bool answered = false;
    };

    static bool AwaitCount(const std::atomic<int>& count)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count == 0 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return count > 0;
    }

    void Serve()
    {
        const uint8_t chatter[] = {'n', 'o', 'i', 's', 'e', '\r', '\n'};
        while (!stop_) {
            auto arrived = std::make_unique<Client>();
            if (listener_.Accept(arrived->socket, kChatEveryMs))
                Welcome(std::move(arrived));
            for (const auto& client : clients_) {
                uint8_t received[4096];
                current_ = client.get();
                for (long n; (n = client->socket.Receive(received, sizeof received)) > 0;)
                    client->codec.Feed(received, static_cast<size_t>(n), *this);
                client->socket.Send(chatter, sizeof chatter);
            }
        }
    }

    void Welcome(std::unique_ptr<Client> client)
    {
        if (goes_ != Goes::Nowhere) {
            std::vector<uint8_t> agree;
            Rfc2217TelnetCodec::AppendOption(agree, rfc2217::kDo, rfc2217::kOptionComPort);
            client->socket.Send(agree.data(), agree.size());
        }
        clients_.push_back(std::move(client));
        ++connections_;
    }

    void OnData(const uint8_t*, size_t) override {}
    void OnOption(uint8_t, uint8_t) override {}
    void OnSubnegotiation(uint8_t, const std::vector<uint8_t>& payload) override
    {
        if (goes_ != Goes::FirstQuestionAnswered || current_->answered || payload.empty() ||
            payload[0] != rfc2217::kSetBaudRate)
            return;
        std::vector<uint8_t> answer;
        Rfc2217TelnetCodec::AppendComPort32(answer, rfc2217::kSetBaudRate + rfc2217::kReplyOffset, 115200);
        current_->socket.Send(answer.data(), answer.size());
        current_->answered = true;
        ++answers_;
    }

    const Goes goes_;
    LoopbackListener listener_;
    std::vector<std::unique_ptr<Client>> clients_; // the serving thread's
    Client* current_ = nullptr;
    std::atomic<int> connections_{0};
    std::atomic<int> answers_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace kestrum::test
