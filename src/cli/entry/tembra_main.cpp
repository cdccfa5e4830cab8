// tembra: reads or changes the user's calendar for a host application, one command per run.
#include "access/store_factory.h"
#include "cli/entry/entry.h"

int main(int argc, char** argv) {
  tembra::StandardOutput output;
  return tembra::runTembra(std::vector<std::string>(argv, argv + argc), output,
                           tembra::createSystemStore);
}
