// Start-up's first steps: standard input, output and error are open before anything else is, and
// nothing reaches standard error.
#pragma once

namespace tembra {

// Opens /dev/null in the place of each of descriptors 0, 1 and 2 that the host closed, so that no
// file the run opens (the store's lock, an event file being written) takes the number of one of
// them and receives what is meant for standard output. Call before anything opens a file.
void keepStandardDescriptorsOpen();

// Points descriptor 2 at /dev/null, so that nothing the run's libraries and frameworks write there
// reaches the host: stdio's stderr, logging that writes to the descriptor itself (NSLog and CFLog
// on macOS), and the standard error of any process they start. Where /dev/null cannot be opened,
// descriptor 2 stays as it is. A sanitized build (the test build) still reports on the host's
// standard error, through a copy of it made here. Call after keepStandardDescriptorsOpen and after
// any hand-over to another executable, which silences its own.
void silenceStandardError();

}  // namespace tembra
