// SIGINT and SIGTERM as a count the main loop polls: the first asks for a
// clean stop, the second for an immediate one.
#ifndef VELTA36_CLI_STOP_SIGNALS_H
#define VELTA36_CLI_STOP_SIGNALS_H

namespace velta36cli {

void InstallStopSignals();
int StopRequests();

}  // namespace velta36cli

#endif
