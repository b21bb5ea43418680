// The VDK-1's programming as the Program page runs it, driven without a window.
#include <QTest>

#include <algorithm>

#include "loader/load_result.h"
#include "pages/c_display_unit_load_flow.h"
#include "sim/sim_port_registry.h"
#include "sim/vdk1_model.h"

using namespace kestrum;

namespace {

// What a run reported, and what the flow looked like when it said it had started.
struct RunLog {
    std::vector<std::string> statuses;
    int lastPercent = -1;
    int starts = 0;
    bool runningAtStart = false;
};

CDisplayUnitLoadFlow::Job JobFor(const std::string& port, CDisplayUnitLoadFlow& flow, RunLog& log)
{
    CDisplayUnitLoadFlow::Job job{port, {}, {0, 0, 0, 0, 0}, {}, {}};
    job.callbacks.status = [&log](const std::string& text) { log.statuses.push_back(text); };
    job.callbacks.progress = [&log](uint32_t counter) { log.lastPercent = CDisplayUnitLoadFlow::ProgressPercent(counter); };
    job.started = [&log, &flow] {
        ++log.starts;
        log.runningAtStart = flow.Running();
    };
    return job;
}

}  // namespace

class DisplayUnitLoadFlowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A "&Cancel" pressed while nothing ran does not stop the run; the bar reaches its end.
    void RunProgramsTheUnitDespiteAStaleCancel()
    {
        auto unit = std::make_shared<Vdk1Model>();
        RegisterSimBackend();
        RegisterSimPort("sim:vdk-flow", unit);
        auto cancel = std::make_shared<CEvent>(CEvent::ResetMode::Auto);
        CDisplayUnitLoadFlow flow(cancel);
        cancel->Set();
        RunLog log;
        QCOMPARE(flow.Run(JobFor("sim:vdk-flow", flow, log)), int(LOAD_OK));
        UnregisterSimPort("sim:vdk-flow");
        QCOMPARE(log.starts, 1);
        QVERIFY(log.runningAtStart);
        QVERIFY(!flow.Running());
        QCOMPARE(log.lastPercent, 100);
        QVERIFY(!log.statuses.empty());
        QCOMPARE(log.statuses.back(), std::string("Loading completed"));
        const Vdk1SpiTarget::Flash flash = unit->FlashMemory();
        QVERIFY(std::equal(DisplayUnitImage().begin(), DisplayUnitImage().end(), flash.begin()));
    }

    // No unit on the cable: a failure, and the flow is idle again.
    void AbsentUnitEndsInAnErrorAndLeavesTheFlowIdle()
    {
        Vdk1Model::Options options;
        options.present = false;
        RegisterSimBackend();
        RegisterSimPort("sim:vdk-absent", std::make_shared<Vdk1Model>(options));
        CDisplayUnitLoadFlow flow(std::make_shared<CEvent>(CEvent::ResetMode::Auto));
        RunLog log;
        QCOMPARE(flow.Run(JobFor("sim:vdk-absent", flow, log)), int(LOAD_GENERIC_ERROR));
        UnregisterSimPort("sim:vdk-absent");
        QVERIFY(!flow.Running());
        QVERIFY(log.lastPercent <= 0);  // nothing was written
    }
};

QTEST_MAIN(DisplayUnitLoadFlowTest)
#include "display_unit_load_flow_test.moc"
