#include "StopSignal.h"

volatile std::sig_atomic_t stopRequested = 0;

namespace {

void OnStopSignal(int)
{
    stopRequested = 1;
}

}  // namespace

void InstallStopSignals()
{
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: poll and sleeps must wake up
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}
