// The receiver's and power board's load as the Program page runs it, driven without a
// window: the file checks, the start with its fallback, the capture retries and the stop.
#include <QTest>

#include <fstream>

#include "app/temp_dir.h"
#include "loader/load_result.h"
#include "pages/c_receiver_load_flow.h"
#include "sim/image_layout.h"
#include "sim/receiver_model.h"
#include "sim/sim_port_registry.h"

using namespace kestrum;

namespace {

constexpr int kRunLimitMs = 60000;

// A simulated receiver under a port name of its own, with the flow and quick waits.
class FlowBench {
public:
    explicit FlowBench(std::shared_ptr<ReceiverModel> receiver)
        : port_("sim:flow-" + std::to_string(++counter_)), flow(status, cancel)
    {
        RegisterSimBackend();
        RegisterSimPort(port_, std::move(receiver), SimSerialDevice::Options{false, 4096, 65536});
    }
    ~FlowBench() { flow.StopAndWait(); UnregisterSimPort(port_); }
    FlowBench(const FlowBench&) = delete;
    FlowBench& operator=(const FlowBench&) = delete;

    LoadSetup Setup()
    {
        LoadSetup setup;
        setup.portName = port_;
        setup.setRange = [this](int steps) { range = steps; };
        setup.notify = [](int, intptr_t, intptr_t) {};
        setup.timing.replyTimeoutMs = 3000;
        setup.timing.captureLimitMs = 1500;
        setup.timing.capturePromptMs = 15000;
        setup.protocolTiming.replyTimeoutCapMs = 300;
        return setup;
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // Waits for the worker's end (bounded) and takes the outcome.
    CReceiverLoadFlow::Outcome WaitForOutcome()
    {
        for (int waited = 0; flow.Busy() && waited < kRunLimitMs; waited += 20)
            QTest::qWait(20);
        if (flow.Busy())
            return {CReceiverLoadFlow::Next::Finished, -1};
        return flow.TakeOutcome();
    }

    CStatusChannel status;
    std::shared_ptr<CEvent> cancel = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
    int range = 0;

private:
    static inline int counter_ = 0;
    TempDir dir_;
    std::string port_;

public:
    CReceiverLoadFlow flow;
};

std::shared_ptr<ReceiverModel> Receiver(ReceiverConfig config = {})
{
    config.flashWriteMs = 20;
    return std::make_shared<ReceiverModel>(config);
}

}  // namespace

class ReceiverLoadFlowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Named paths are remembered before they are checked; a power board's only once its
    // image is there.
    void FilesAreCheckedInOrderAndRemembered()
    {
        FlowBench bench(Receiver());
        const std::string ram = bench.Write("ram.ldr", {1});
        const std::string flash = bench.Write("main.ldp", {1});
        const std::string gone = ram + ".gone";
        struct Case {
            std::string ram, flash, complaint;
            bool remember;
        };
        const Case cases[] = {{"", flash, "Enter the RAM file path", false},
                              {ram, "", "Enter the Flash file path", false},
                              {gone, flash, "Can't open RAM file", true},
                              {ram, gone, "Can't open Flash file", true},
                              {ram, flash, "", true}};
        for (const Case& c : cases) {
            const CReceiverLoadFlow::FileCheck check = bench.flow.CheckReceiverFiles(c.ram, c.flash);
            QCOMPARE(check.complaint, c.complaint);
            QCOMPARE(check.remember, c.remember);
        }
        QCOMPARE(bench.flow.CheckPowerBoardImage("").complaint, std::string("Enter the Flash file path"));
        const CReceiverLoadFlow::FileCheck missing = bench.flow.CheckPowerBoardImage(gone);
        QCOMPARE(missing.complaint, std::string("Can't open Flash file"));
        QVERIFY(!missing.remember);
        QVERIFY(bench.flow.CheckPowerBoardImage(ram).Passed());
    }

    // Power-on capture to the end, with the bar reaching its end.
    void PowerOnLoadFinishesWithTheLoadersResult()
    {
        ReceiverConfig config;
        config.powerCycleAfterMs = 200;
        auto receiver = Receiver(config);
        FlowBench bench(receiver);
        const std::string ram = bench.Write("ram.ldr", BuildRamImage({true, 20, "", 1000}));
        const std::string flash = bench.Write("main.ldp", BuildFlashImage({20, "4.1 Dec,08,2026", 3000, true}));
        QVERIFY(bench.flow.CheckReceiverFiles(ram, flash).Passed());
        bench.flow.Begin(kPowerOnCapture);
        QCOMPARE(bench.flow.Start(kPowerOnCapture, bench.Setup()), int(CLoadSession::kStarted));
        QVERIFY(bench.flow.CaptureDialogAllowed());
        const CReceiverLoadFlow::Outcome outcome = bench.WaitForOutcome();
        QCOMPARE(outcome.result, int(LOAD_OK));
        QVERIFY(outcome.next == CReceiverLoadFlow::Next::Finished);
        QVERIFY(bench.range > 0);
        QVERIFY(bench.flow.ProgressSteps() >= bench.range);  // the bar reaches its end
        QCOMPARE(receiver->FirmwareVersion(), std::string("4.1 Dec,08,2026"));
    }

    // A receiver that answers but never restarts: the capture is tried three times in all.
    void SoftBreakThatNeverCapturesIsRetriedThenFinished()
    {
        ReceiverConfig config;
        config.commands.unanswered.insert("set,reset,yes");
        FlowBench bench(Receiver(config));
        QVERIFY(bench.flow.CheckReceiverFiles(bench.Write("ram.ldr", BuildRamImage({true, 20, "", 100})),
                                              bench.Write("main.ldp", BuildFlashImage({20, "4.2", 600, true})))
                    .Passed());
        bench.flow.Begin(kSoftBreakCapture);
        QStringList steps;
        for (int attempt = 0; attempt < CReceiverLoadFlow::kSoftBreakRetries + 1; ++attempt) {
            if (bench.flow.Start(kSoftBreakCapture, bench.Setup()) != CLoadSession::kStarted)
                break;
            const CReceiverLoadFlow::Outcome outcome = bench.WaitForOutcome();
            steps << QString::number(outcome.result);
            if (outcome.next == CReceiverLoadFlow::Next::Finished)
                break;
        }
        const QString cantCapture = QString::number(LOAD_CANT_CAPTURE);
        QCOMPARE(steps, (QStringList{cantCapture, cantCapture, cantCapture}));
    }

    // A soft break that finds nobody falls back to power-on capture without the prompt;
    // the run then ends on a stop request, and the flow is idle afterwards.
    void SilentReceiverFallsBackToPowerOnAndStops()
    {
        auto receiver = Receiver();
        receiver->SetFaults(LineFaults{.silent = true});
        FlowBench bench(receiver);
        QVERIFY(bench.flow.CheckReceiverFiles(bench.Write("ram.ldr", BuildRamImage({true, 20, "", 100})),
                                              bench.Write("main.ldp", BuildFlashImage({20, "4.3", 600, true})))
                    .Passed());
        bench.flow.Begin(kSoftBreakCapture);
        LoadSetup setup = bench.Setup();
        setup.timing.captureLimitMs = 20000;
        QCOMPARE(bench.flow.Start(kSoftBreakCapture, setup), int(CLoadSession::kStarted));
        QVERIFY(!bench.flow.CaptureDialogAllowed());
        QVERIFY(bench.flow.Busy());
        bench.cancel->Set();
        for (int asked = 0; bench.flow.Busy() && asked < 100; ++asked)
            bench.flow.RequestStop();
        QVERIFY(!bench.flow.Busy());
        bench.flow.JoinEnded();
        QCOMPARE(bench.flow.TakeOutcome().result, int(LOAD_ABORTED));
    }
};

QTEST_MAIN(ReceiverLoadFlowTest)
#include "receiver_load_flow_test.moc"
