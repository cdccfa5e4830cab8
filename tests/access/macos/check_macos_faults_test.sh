#!/usr/bin/env bash
# Proves that scripts/check-macos catches the faults it exists for: each row plants one fault in a
# copy of the system store's source, and the check must fail at the named step with the named
# diagnostic; each build row plants one in a copy of the build's CMakeLists.txt (or another file
# the build reads), and the check of the build's macOS branch must fail with the named diagnostic.
# The unchanged source must pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
source_file=$root/src/access/macos/event_kit_store.mm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | sed program that plants the fault | step that must fail | diagnostic it must print
# [| the source file, when not the system store's]
rows=(
  "misspelled selector|s/calendarsForEntityType:EKEntityTypeEvent\]/calendarForEntityType:EKEntityTypeEvent]/|this machine's target|no visible @interface for 'EKEventStore' declares the selector 'calendarForEntityType:'"
  "missing __bridge|s/(__bridge EKEvent\*)handle.get()/(EKEvent*)handle.get()/|this machine's target|requires a bridged cast|src/access/macos/framework_values.mm"
  "macOS 14 call outside @available|s/if (@available(macOS 14.0, \*)) {/if (true) {/|macOS 13 target|'requestFullAccessToEventsWithCompletion:' is only available on macOS 14.0 or newer"
  "nullable passed to a non-null parameter|s/\[store eventWithIdentifier:text\]/[store eventWithIdentifier:nsString(identifier)]/|this machine's target|implicit conversion from nullable pointer 'NSString * _Nullable' to non-nullable pointer type 'NSString * _Nonnull'|src/access/macos/framework_values.mm"
  "nil reaching a non-null parameter on one path|/Nothing in the store stands behind/,+2d|static analyzer|nil passed to a callee that requires a non-null 1st parameter"
  "the framework's store reached outside the exception guard|s/void accessGranted() override { framework_.renew(); }/void accessGranted() override { [framework_.store_ reset]; }/|this machine's target|'store_' is a private member"
  "no refresh after the grant|/void accessGranted() override/d|this machine's target|allocating an object of abstract class type"
  "title matching passes on text that may be nil|s/isEqualToString:right.precomposedStringWithCanonicalMapping/isEqualToString:decode(b)/|this machine's target|implicit conversion from nullable pointer 'NSString * _Nullable' to non-nullable pointer type 'NSString * _Nonnull'|src/commands/macos/title_match.mm"
)

# name | sed program that plants the fault | diagnostic the build check must print [| the file,
# when not CMakeLists.txt]
build_rows=(
  "Homebrew's ICU linked into title matching|s#tembra_access \"-framework Foundation\")#tembra_access \"-framework Foundation\" /opt/homebrew/opt/icu4c/lib/libicuuc.dylib)#|the macOS link line names a library outside the system: /opt/homebrew/opt/icu4c/lib/libicuuc.dylib"
  "a library outside the system linked into the system store|s#\"-framework EventKit\"#-L/usr/local/lib -lintl \"-framework EventKit\"#|the macOS link line names a library outside the system: -L/usr/local/lib -lintl"
  "ICU looked for on Apple platforms|s#^if(NOT APPLE OR (TEMBRA_STORE#if(TRUE OR (TEMBRA_STORE#|the macOS build still looks for ICU"
  "the ICU title matching compiled on Apple platforms|s# EXCLUDE title_match.cpp)#)#|the macOS build still compiles the ICU title matching"
  "one architecture only|/set(CMAKE_OSX_ARCHITECTURES/,+1d|the macOS build is for '', not 'arm64 x86_64'"
  "no Info.plist embedded|/LINKER:-sectcreate/d|the macOS link line embeds no Info.plist"
  "an Info.plist without the usage text of macOS 12 and 13|/<key>NSCalendarsUsageDescription</,+1d|the embedded Info.plist lacks NSCalendarsUsageDescription|packaging/macos/Info.plist.in"
  "the standard library's semaphore waited on on Apple platforms|s# EXCLUDE answer_signal.cpp# EXCLUDE#|the macOS build still compiles the standard semaphore's wait"
  "the choice of a back-end compiled on Apple platforms|s# store_choice.cpp)#)#|the macOS build still compiles the back-end choice (TEMBRA_BACKEND)"
)

failures=0
if ! "$root/scripts/check-macos" "$source_file" "$root/src/access/macos/framework_values.mm" \
  "$root/src/commands/macos/title_match.mm" >"$work/clean.log" 2>&1; then
  echo "FAIL: the unchanged source does not pass"
  cat "$work/clean.log"
  failures=$((failures + 1))
fi

for row in "${rows[@]}"; do
  IFS='|' read -r name program step diagnostic file <<<"$row"
  original=${file:+$root/$file}
  original=${original:-$source_file}
  planted=$work/$(basename "$original")
  sed "$program" "$original" >"$planted"
  if cmp -s "$planted" "$original"; then
    echo "FAIL: $name: the fault could not be planted (the source changed; update the row)"
    failures=$((failures + 1))
    continue
  fi
  if "$root/scripts/check-macos" "$planted" >"$work/log" 2>&1; then
    echo "FAIL: $name: check-macos passed"
    failures=$((failures + 1))
  elif ! grep -qF "$(basename "$original"): $step: FAILED" "$work/log"; then
    echo "FAIL: $name: the step \"$step\" did not fail"
    cat "$work/log"
    failures=$((failures + 1))
  elif ! grep -qF -- "$diagnostic" "$work/log"; then
    echo "FAIL: $name: no diagnostic \"$diagnostic\""
    cat "$work/log"
    failures=$((failures + 1))
  else
    echo "ok: $name: caught by the step \"$step\""
  fi
done
for row in "${build_rows[@]}"; do
  IFS='|' read -r name program diagnostic file <<<"$row"
  file=${file:-CMakeLists.txt}
  tree=$work/tree
  rm -rf "$tree"
  mkdir -p "$tree"
  cp -r "$root/src" "$root/packaging" "$root/CMakeLists.txt" "$tree/"
  sed "$program" "$root/$file" >"$tree/$file"
  if cmp -s "$tree/$file" "$root/$file"; then
    echo "FAIL: $name: the fault could not be planted ($file changed; update the row)"
    failures=$((failures + 1))
  elif "$root/scripts/check-macos" --build "$tree" >"$work/log" 2>&1; then
    echo "FAIL: $name: check-macos passed"
    failures=$((failures + 1))
  elif ! grep -qF -- "$diagnostic" "$work/log"; then
    echo "FAIL: $name: no diagnostic \"$diagnostic\""
    cat "$work/log"
    failures=$((failures + 1))
  else
    echo "ok: $name: caught by the check of the build's macOS branch"
  fi
done
exit $((failures > 0))
