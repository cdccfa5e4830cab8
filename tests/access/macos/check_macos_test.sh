#!/usr/bin/env bash
# Runs scripts/check-macos unless it has passed over these very inputs: the Objective-C++ files, the
# C++ files of macos/ folders and every header they may include, the declarations they are checked
# against, the CMake files whose macOS branch it evaluates and the Info.plist it embeds, the names
# of the source files, the script itself and the tools' versions. No other .cpp file's content can
# change its outcome, so a change there does not pay for the check again. The key of the last pass
# is kept in STAMP.
#   check_macos_test.sh STAMP
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
stamp=$1
cd "$root"

inputs() {
  "${CLANG:-$(command -v clang++ || command -v clang++-14)}" --version
  cmake --version
  find src -type f | LC_ALL=C sort
  find . \( -name .git -o -name 'build*' \) -prune -o -type f \
    \( -name '*.h' -o -name '*.mm' -o -path '*/macos/*.cpp' -o -name CMakeLists.txt \
    -o -name '*.cmake' -o -name '*.plist.in' \) -print |
    LC_ALL=C sort | xargs sha256sum
  sha256sum scripts/check-macos
}
key=$(inputs | sha256sum | cut -d' ' -f1)

if [[ -f $stamp && $(<"$stamp") == "$key" ]]; then
  echo "check-macos: passed before over the same inputs ($key); not run again"
  exit 0
fi
rm -f "$stamp"
scripts/check-macos
echo "$key" >"$stamp"
