// The desktop program from start to end, as main() runs it: what it stores at exit.
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "desktop_fixture.h"
#include "gui/c_main_frame.h"
#include "gui/desktop_program.h"
#include "platform/file_descriptor.h"

using namespace kestrum;
using namespace kestrum::test;

namespace {

// What the program writes on stderr until Text() is asked for.
class StderrCatcher {
public:
    explicit StderrCatcher(std::string path) : path_(std::move(path)), saved_(::dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        ::dup2(FileDescriptor(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)).Get(), STDERR_FILENO);
    }
    ~StderrCatcher() { Restore(); }
    std::string Text()
    {
        Restore();
        return ReadFile(path_);
    }

private:
    void Restore()
    {
        std::fflush(stderr);
        ::dup2(saved_.Get(), STDERR_FILENO);
    }

    std::string path_;
    FileDescriptor saved_;
};

// Runs the program until its main window is up, lets visit look at it, then closes it.
int RunAndClose(const DesktopFixture& desktop, const std::function<void(CMainFrame&)>& visit)
{
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&probe, &visit] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* frame = qobject_cast<CMainFrame*>(window);
            if (frame == nullptr || !frame->isVisible())
                continue;
            probe.stop();
            visit(*frame);
            frame->close();
        }
    });
    probe.start(20);
    return RunDesktopProgram({"kestrum"}, desktop.Environment());
}

// Each rewrite of the file creates a temporary file of its own name beside it (inotify
// merges repeated events of one name, so the renames themselves cannot be counted).
int CountRewritesOf(int watch, const std::string& name)
{
    alignas(inotify_event) char buffer[8192];
    int count = 0;
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string created = event->len > 0 ? event->name : "";
            if (created.starts_with(name + ".") && created != name + ".lock")
                ++count;
            at += sizeof(inotify_event) + event->len;
        }
    }
    return count;
}

}  // namespace

class DesktopProgramTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every key of the exit (pages, window position, the flag) goes in with one rewrite,
    // so another program ending at the same moment cannot slip between them.
    void ExitStoresEveryKeyInOneRewrite()
    {
        DesktopFixture desktop;
        desktop.WriteSettings("; kept\n[Other]\nkey=1\n");
        const std::string dir = std::filesystem::path(desktop.SettingsPath()).parent_path().string();
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0 && ::inotify_add_watch(watch, dir.c_str(), IN_CREATE) >= 0);
        QCOMPARE(RunAndClose(desktop, [](CMainFrame&) {}), 0);
        const int rewrites = CountRewritesOf(watch, "kestrum.ini");
        ::close(watch);
        QCOMPARE(rewrites, 1);
        const std::string stored = desktop.Settings();
        for (const char* expected : {"; kept", "[Other]\nkey=1", "SaveSett=1", "PosLeft=", "[PortSettings]",
                                     "Device_Type=", "[LoadPath_RAM]", "ResetRec="})
            QVERIFY2(stored.find(expected) != std::string::npos, (std::string(expected) + " in\n" + stored).c_str());
    }

    // A file the user made read-only: its settings apply, the status line and stderr say
    // once that nothing will be saved, and the file is left exactly as it was.
    void ReadOnlySettingsFileIsUsedAndNeverWritten()
    {
        DesktopFixture desktop;
        const std::string content = "[DeviceSettings]\nDevice_Type=1\n[Activate]\nSaveSett=1\n";
        desktop.WriteSettings(content);
        QCOMPARE(::chmod(desktop.SettingsPath().c_str(), 0444), 0);
        struct stat before {};
        QCOMPARE(::stat(desktop.SettingsPath().c_str(), &before), 0);
        StderrCatcher err(desktop.SettingsPath() + ".stderr");
        QString title;
        QString status;
        const int exitStatus = RunAndClose(desktop, [&](CMainFrame& frame) {
            QTRY_VERIFY(frame.Pane(0)->text().contains(QStringLiteral("read-only")));
            status = frame.Pane(0)->text();
            title = frame.windowTitle();
        });
        const std::string said = err.Text();
        QCOMPARE(exitStatus, 0);
        QVERIFY2(title.endsWith(QStringLiteral("Receiver's Power Board")), qPrintable(title));
        QVERIFY2(status.contains(QStringLiteral("settings will not be saved")), qPrintable(status));
        const std::string line = "kestrum: " + status.toStdString() + "\n";
        QVERIFY2(said.find(line) != std::string::npos && said.find(line) == said.rfind(line), said.c_str());
        struct stat after {};
        QCOMPARE(::stat(desktop.SettingsPath().c_str(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode & 07777, 0444u);
        QCOMPARE(desktop.Settings(), content);
    }
};

QTEST_MAIN(DesktopProgramTest)
#include "desktop_program_test.moc"
