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
  // Years outside 0000..9999 (an offset can carry 0000 back into -1, rounding can carry the
  // last instant of 9999 into 10000) are written with a sign, which the reader takes too.
  const bool signedYear = written.front() == '-' || written.front() == '+';
  require((signedYear || written.size() == 24) && written.back() == 'Z');
  const std::optional<Instant> again = parseDate(kFormatters, written);
  require(again.has_value());
  require(epochMillis(*again) == epochMillis(*instant));
  require(formatDate(kFormatters, *again) == written);
  return 0;
}
