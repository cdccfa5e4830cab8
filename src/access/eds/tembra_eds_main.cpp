// tembra-eds: tembra over the calendars of the GNOME desktop (Evolution Data Server). tembra hands
// a run to it when TEMBRA_BACKEND=eds; a host may also start it directly.
#include "access/eds/eds_store.h"
#include "cli/entry/entry.h"
#include "cli/standard_descriptors.h"

int main(int argc, char** argv) {
  tembra::keepStandardDescriptorsOpen();
  tembra::silenceStandardError();
  tembra::StandardOutput output;
  return tembra::runTembra(std::vector<std::string>(argv, argv + argc), output,
                           tembra::eds::createEdsStore);
}
