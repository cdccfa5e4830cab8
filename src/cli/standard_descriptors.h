// Start-up's first step: standard input, output and error are open before anything else is.
#pragma once

namespace tembra {

// Opens /dev/null in the place of each of descriptors 0, 1 and 2 that the host closed, so that no
// file the run opens (the store's lock, an event file being written) takes the number of one of
// them and receives what is meant for standard output. Call before anything opens a file.
void keepStandardDescriptorsOpen();

}  // namespace tembra
