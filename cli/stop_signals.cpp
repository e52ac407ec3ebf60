#include "stop_signals.h"

#include <csignal>

namespace velta36cli {

namespace {

volatile std::sig_atomic_t gRequests = 0;

extern "C" void OnStopSignal(int)
{
    if (gRequests < 100)
        gRequests = gRequests + 1;
}

}  // namespace

void InstallStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopRequests()
{
    return gRequests;
}

}  // namespace velta36cli
