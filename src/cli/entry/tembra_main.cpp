// tembra: reads or changes the user's calendar for a host application, one command per run.
#include "access/store_factory.h"
#include "cli/entry/entry.h"
#include "cli/standard_descriptors.h"

int main(int argc, char** argv) {
  tembra::keepStandardDescriptorsOpen();
  // Before anything else: a run over another back-end is that back-end's executable's from here.
  const std::optional<std::string> problem = tembra::handOverToChosenBackend(argv);
  tembra::silenceStandardError();
  tembra::StandardOutput output;
  std::vector<std::string> args(argv, argv + argc);
  if (problem)
    return tembra::runWithoutStore(args, output, *problem, tembra::kExitUsage);
  if (const auto storeProblem = tembra::systemStoreProblem())
    return tembra::runWithoutStore(args, output, *storeProblem, tembra::kExitFailure);
  return tembra::runTembra(std::move(args), output, tembra::createSystemStore);
}
