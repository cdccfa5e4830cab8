// The date formatters the tests share, made once as the front end makes them once per run.
#pragma once

#include "records/dates.h"

namespace tembra {

inline const Formatters kFormatters;

}  // namespace tembra
