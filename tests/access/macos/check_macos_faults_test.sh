#!/usr/bin/env bash
# Proves that scripts/check-macos catches the faults it exists for: each row plants one fault in a
# copy of the system store's source, and the check must fail at the named step with the named
# diagnostic. The unchanged source must pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
source_file=$root/src/access/macos/event_kit_store.mm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | sed program that plants the fault | step that must fail | diagnostic it must print
rows=(
  "misspelled selector|s/calendarsForEntityType:EKEntityTypeEvent\]/calendarForEntityType:EKEntityTypeEvent]/|this machine's target|no visible @interface for 'EKEventStore' declares the selector 'calendarForEntityType:'"
  "missing __bridge|s/(__bridge EKEvent\*)handle.get()/(EKEvent*)handle.get()/|this machine's target|requires a bridged cast"
  "macOS 14 call outside @available|s/if (@available(macOS 14.0, \*)) {/if (true) {/|macOS 13 target|'requestFullAccessToEventsWithCompletion:' is only available on macOS 14.0 or newer"
  "nullable passed to a non-null parameter|s/\[store eventWithIdentifier:text\]/[store eventWithIdentifier:nsString(identifier)]/|this machine's target|implicit conversion from nullable pointer 'NSString * _Nullable' to non-nullable pointer type 'NSString * _Nonnull'"
  "nil reaching a non-null parameter on one path|/Nothing in the store stands behind/,+2d|static analyzer|nil passed to a callee that requires a non-null 1st parameter"
  "the framework's store reached outside the exception guard|s/framework_.run(\[\](EKEventStore\* store) { \[store reset\]; }, \[\](const std::string&) {});/[framework_.store_ reset];/|this machine's target|'store_' is a private member"
  "no refresh after the grant|/void accessGranted() override {/,/^  }$/d|this machine's target|allocating an object of abstract class type"
)

failures=0
if ! "$root/scripts/check-macos" "$source_file" >"$work/clean.log" 2>&1; then
  echo "FAIL: the unchanged source does not pass"
  cat "$work/clean.log"
  failures=$((failures + 1))
fi

for row in "${rows[@]}"; do
  IFS='|' read -r name program step diagnostic <<<"$row"
  planted=$work/event_kit_store.mm
  sed "$program" "$source_file" >"$planted"
  if cmp -s "$planted" "$source_file"; then
    echo "FAIL: $name: the fault could not be planted (the source changed; update the row)"
    failures=$((failures + 1))
    continue
  fi
  if "$root/scripts/check-macos" "$planted" >"$work/log" 2>&1; then
    echo "FAIL: $name: check-macos passed"
    failures=$((failures + 1))
  elif ! grep -qF "event_kit_store.mm: $step: FAILED" "$work/log"; then
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
exit $((failures > 0))
