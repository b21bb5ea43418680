// The Program page's lasting choices as the settings file holds them.
#include <QTest>

#include "app/temp_dir.h"
#include "pages/c_program_settings.h"

using namespace kestrum;

class ProgramSettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void HistoryOfTwelveIsStoredAsItsFirstTen()
    {
        TempDir dir;
        CSettingsFile file(dir / "kestrum.ini");
        CProgramSettings settings;
        for (int n = 12; n >= 1; --n)
            settings.AddToHistory(CProgramSettings::kFlashHistory, "/fw/" + std::to_string(n) + ".ldp", true);
        settings.SaveProgramSettings(file);
        QCOMPARE(file.GetText("LoadPath_Flash", "Path01", ""), std::string("/fw/1.ldp"));
        QCOMPARE(file.GetText("LoadPath_Flash", "Path10", ""), std::string("/fw/10.ldp"));
        QVERIFY(ReadFile(dir / "kestrum.ini").find("11.ldp") == std::string::npos);
        QCOMPARE(file.GetText("LoadPath_RAM", "Path01", "unset"), std::string());

        CProgramSettings again;
        again.LoadProgramSettings(file);
        QCOMPARE(again.Entries(CProgramSettings::kFlashHistory).size(), size_t{10});
    }

    void BrowsingToTheThirdEntryMovesItFirstAndKeepsTheOthersInOrder()
    {
        CProgramSettings settings;
        for (const char* path : {"/a.ldr", "/b.ldr", "/c.ldr"})
            settings.AddToHistory(CProgramSettings::kRamHistory, path, false);
        settings.AddToHistory(CProgramSettings::kRamHistory, "/c.ldr", true);
        QCOMPARE(settings.Entries(CProgramSettings::kRamHistory),
                 (std::vector<std::string>{"/c.ldr", "/a.ldr", "/b.ldr"}));
        settings.AddDefaultEntries();
        settings.AddDefaultEntries();
        QCOMPARE(settings.Entries(CProgramSettings::kRamHistory).back(), std::string("ramimage.ldr"));
        QCOMPARE(settings.Entries(CProgramSettings::kRamHistory).size(), size_t{4});
    }

    void TestSwitchesAndMethodsAreReadWithTheirRules()
    {
        TempDir dir;
        WriteFile(dir / "kestrum.ini", "[ProgramSettings]\nResetRec=7\nResetPWR=3\n[Test]\nSoftwareBreak=sleep\n");
        CProgramSettings settings;
        settings.LoadProgramSettings(CSettingsFile(dir / "kestrum.ini"));
        QCOMPARE(settings.CaptureMethod(0), 0);
        QCOMPARE(settings.CaptureMethod(1), 3);  // kept; the page resets what its list lacks
        QCOMPARE(settings.CaptureMethod(2), 1);
        QCOMPARE(settings.SoftBreakVariant(), 0);
        QVERIFY(!settings.HardwareResetAvailable());
        WriteFile(dir / "kestrum.ini", "[Test]\nSoftwareBreak=Sleep\nHardwareReset=1\n");
        settings.LoadProgramSettings(CSettingsFile(dir / "kestrum.ini"));
        QCOMPARE(settings.SoftBreakVariant(), 1);
        QVERIFY(settings.HardwareResetAvailable());
        settings.ApplyCaptureOption(0, "hard");
        settings.ApplyCaptureOption(1, "HARD");
        QCOMPARE(settings.CaptureMethod(0), 2);
        QCOMPARE(settings.CaptureMethod(1), 0);
    }

    // The VDK-1's way to the unit is the technician's to set in the file: read, never written.
    void DisplayUnitLinesAreReadAndNeverWritten()
    {
        TempDir dir;
        WriteFile(dir / "kestrum.ini", "[ProgramSettings]\nVdkLines=bitbang\nVdkBitBangRate=125000\n");
        CSettingsFile file(dir / "kestrum.ini");
        CProgramSettings settings;
        settings.LoadProgramSettings(file);
        QVERIFY(settings.DisplayUnitLines().lines == VdkLines::BitBang);
        QCOMPARE(settings.DisplayUnitLines().bitBangRate, 125000u);
        WriteFile(dir / "kestrum.ini", "");
        settings.SaveProgramSettings(file);
        QCOMPARE(file.GetText("ProgramSettings", "VdkLines", "unset"), std::string("unset"));
    }
};

QTEST_MAIN(ProgramSettingsTest)
#include "program_settings_test.moc"
