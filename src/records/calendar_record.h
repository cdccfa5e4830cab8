// The calendar record: the five keys that describe one calendar to the host, and its colour text.
#pragma once

#include <optional>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "access/calendar_store.h"

namespace tembra {

// The record {"id", "title", "source", "allowsContentModifications", "color"}: always all five
// keys, never null. A missing title or source gives "" for that key; a calendar without a colour,
// or whose colour has no text (see cgColorToHex), gives "" for "color". Never fails.
nlohmann::json calendarJSON(const Calendar& calendar);

// "#RRGGBB" from the first three components, whatever the colour space; further components, alpha
// included, are ignored. Each component is multiplied by 255 and rounded half away from zero, with
// no clamping, and written in upper-case hexadecimal with at least two digits, so a component
// above 1 makes the text longer than seven characters.
// None when there are fewer than three components (a grey colour has two), and none when one of
// the three is not a finite number, rounds below zero or lies beyond the 64-bit range: such a
// colour has no text the host could read back.
std::optional<std::string> cgColorToHex(std::span<const double> components);

}  // namespace tembra
