#include "gui/c_qt_message_hooks.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/message_pump.h"
#include "widgets/c_private_message_event.h"
#include "widgets/c_pump_pause.h"

namespace kestrum {

CQtMessageHooks::CQtMessageHooks()
{
    MessagePump::InstallPumpHook([] {
        QCoreApplication* application = QCoreApplication::instance();
        if (application != nullptr && QThread::currentThread() == application->thread() && !CPumpPause::Active())
            QCoreApplication::processEvents(QEventLoop::AllEvents, kPumpStepMs);
    });
    MessagePump::InstallMessageSink(
        [this](int message, intptr_t wParam, intptr_t lParam) { Post(message, wParam, lParam); });
}

CQtMessageHooks::~CQtMessageHooks()
{
    MessagePump::InstallMessageSink(nullptr);
    MessagePump::InstallPumpHook(nullptr);
}

void CQtMessageHooks::SetTarget(QObject* target)
{
    std::lock_guard lock(mutex_);
    target_ = target;
}

// postEvent is safe from any thread; the lock keeps the target from going away until the
// event is queued, and Qt drops the queued events of an object that is destroyed.
void CQtMessageHooks::Post(int message, intptr_t wParam, intptr_t lParam)
{
    std::lock_guard lock(mutex_);
    if (target_ != nullptr)
        QCoreApplication::postEvent(target_, new CPrivateMessageEvent(message, wParam, lParam));
}

}  // namespace kestrum
