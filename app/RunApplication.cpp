#include "app/RunApplication.h"

#include "app/AppFolders.h"
#include "app/Host.h"
#include "diag/CrashReport.h"
#include "diag/DebugLog.h"
#include "diag/SehGuard.h"

#include <exception>

namespace PomaroApp {

int RunApplication()
{
    try {
        if (PrepareAppFolders()) {
            DebugLog::Open(documentsFolder);
            DebugLog::WriteModuleInfo();
        }
        DebugLog::WriteSeparator();

        CHost* host = new CHost();
        host->createFrameWindow(); // a failure is reported inside; the loader then fails
        initMidiRing(host->midiRing);
        host->midiInputs.openAll(static_cast<Kelvane::IMidiDataListener*>(host));
        host->openAudioDevice(Kelvane::DriverAuto, nullptr); // without a device the run is silent

        int exitCode = kExitNoPlugin;
        if (host->loadVstPlugin()) {
            if (host->checkBusConfiguration()) {
                DebugLog::WriteSeparator();
                host->startProcessing();
                host->runMessageLoop();
                host->stopProcessing();
                // A fault of the last render calls, whose message the loop never saw.
                if (reportStructuredException())
                    return kExitFatalError;
                exitCode = kExitNormal;
            }
            host->unloadVstPlugin();
        }
        host->release();
        DebugLog::WriteSeparator();
        return exitCode;
    } catch (const std::exception& e) {
        reportFatalException(e); // what() converted from the ANSI code page
    } catch (...) {
        reportUnknownException(); // "Unknown exception"
    }
    // Nothing more is cleaned up after a fatal report: the process ends next.
    return kExitFatalError;
}

namespace {
int guardedExitCode = kExitFatalError;
void runAndKeepExitCode() { guardedExitCode = RunApplication(); }
} // namespace

int RunGuardedApplication()
{
    if (!runGuarded(&runAndKeepExitCode))
        return kExitFatalError;
    return guardedExitCode;
}

void endAfterFatalReport()
{
    // After a fatal error the state of the host and of the plug-in is unknown: their
    // shutdown code (the plug-in's DLL detach, its threads, the graphics driver behind
    // the keyboard strip) can hang or crash the exit itself. The report is on screen
    // and on disk, so the process ends here.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kExitFatalError));
    ExitProcess(static_cast<UINT>(kExitFatalError));
}

} // namespace PomaroApp
