// Fuzzes parseDate with arbitrary bytes; whatever it reads must be written back by formatDate in
// a form it reads again to the same millisecond.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/dates.h"

namespace {

const tembra::Formatters kFormatters;

void require(bool condition) {
  if (!condition)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tembra;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<Instant> instant = parseDate(kFormatters, text);
  if (!instant)
    return 0;
  const std::string written = formatDate(kFormatters, *instant);
  // An offset can carry year 0000 back into year -1, and rounding to the millisecond can carry
  // the last instant of 9999 into 10000; both are written with a sign, a form the reader does not
  // take. Every other instant it reads has a four-digit year.
  if (written.front() == '-' || written.front() == '+')
    return 0;
  require(written.size() == 24 && written.back() == 'Z');
  const std::optional<Instant> again = parseDate(kFormatters, written);
  require(again.has_value());
  require(epochMillis(*again) == epochMillis(*instant));
  require(formatDate(kFormatters, *again) == written);
  return 0;
}
