// TZif files, and the zones of the machine's setting.
#include "access/local/zone_rules.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "access/local/files.h"
#include "access/posix_zone.h"
#include "records/civil.h"

namespace tembra::local {
namespace {

constexpr const char* kZoneDirectory = "/usr/share/zoneinfo/";

class UtcRules final : public ZoneRules {
 public:
  int offsetAt(std::int64_t) const override { return 0; }
};

// A zone from a TZif file: its transitions, and the POSIX rule for times after the last one.
class TzifRules final : public ZoneRules {
 public:
  TzifRules(std::vector<std::int64_t> transitions, std::vector<int> offsets, int initial,
            std::optional<PosixZone> future)
      : transitions_(std::move(transitions)),
        offsets_(std::move(offsets)),
        initial_(initial),
        future_(std::move(future)) {}

  int offsetAt(std::int64_t utc) const override {
    if (transitions_.empty() || utc < transitions_.front()) {
      return transitions_.empty() && future_ ? future_->offsetAt(utc) : initial_;
    }
    if (utc >= transitions_.back() && future_)
      return future_->offsetAt(utc);
    const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
    return offsets_[static_cast<std::size_t>(after - transitions_.begin() - 1)];
  }

 private:
  std::vector<std::int64_t> transitions_;
  std::vector<int> offsets_;  // in force from the transition of the same index
  int initial_;
  std::optional<PosixZone> future_;
};

class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool has(std::size_t count) const { return data_.size() - at_ >= count; }
  std::int64_t integer(std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
      value = value << 8 | static_cast<unsigned char>(data_[at_++]);
    if (width == 4)
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return static_cast<std::int64_t>(value);
  }
  void skip(std::size_t count) { at_ += count; }
  std::string_view rest() const { return data_.substr(at_); }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
};

struct Counts {
  std::size_t isUt, isStd, leap, time, type, chars;
};

std::optional<Counts> header(Reader& reader, char& version) {
  if (!reader.has(44))
    return std::nullopt;
  if (reader.rest().substr(0, 4) != "TZif")
    return std::nullopt;
  version = reader.rest()[4];
  reader.skip(20);
  Counts counts{};
  for (std::size_t* count :
       {&counts.isUt, &counts.isStd, &counts.leap, &counts.time, &counts.type, &counts.chars}) {
    *count = static_cast<std::size_t>(reader.integer(4));
  }
  if (counts.type == 0 || counts.type > 256 || counts.time > 100'000)
    return std::nullopt;
  return counts;
}

}  // namespace

std::int64_t ZoneRules::utcOf(std::int64_t local) const {
  // Transitions are never closer together than two days, so the offsets a day either side are
  // the only candidates.
  const int before = offsetAt(local - 86400);
  const int after = offsetAt(local + 86400);
  const std::int64_t early = local - std::max(before, after);
  const std::int64_t late = local - std::min(before, after);
  if (offsetAt(early) == std::max(before, after))
    return early;
  if (offsetAt(late) == std::min(before, after))
    return late;
  return local - before;  // in the gap: the offset before the change
}

namespace {

class PosixRules final : public ZoneRules {
 public:
  explicit PosixRules(PosixZone rule) : rule_(std::move(rule)) {}
  int offsetAt(std::int64_t utc) const override { return rule_.offsetAt(utc); }

 private:
  PosixZone rule_;
};

}  // namespace

std::unique_ptr<ZoneRules> posixZoneRules(const PosixZone& rule) {
  return std::make_unique<PosixRules>(rule);
}

const ZoneRules& utcRules() {
  static const UtcRules utc;
  return utc;
}

std::unique_ptr<ZoneRules> parseTzif(const std::string& data) {
  Reader reader(data);
  char version = 0;
  auto counts = header(reader, version);
  if (!counts)
    return nullptr;
  std::size_t width = 4;
  if (version >= '2') {
    // Skip the 32-bit data; the 64-bit data and the footer follow.
    const std::size_t v1 = counts->time * 5 + counts->type * 6 + counts->chars + counts->leap * 8 +
                           counts->isStd + counts->isUt;
    if (!reader.has(v1))
      return nullptr;
    reader.skip(v1);
    counts = header(reader, version);
    if (!counts)
      return nullptr;
    width = 8;
  }
  const std::size_t size = counts->time * (width + 1) + counts->type * 6 + counts->chars +
                           counts->leap * (width + 4) + counts->isStd + counts->isUt;
  if (!reader.has(size))
    return nullptr;
  std::vector<std::int64_t> transitions(counts->time);
  for (auto& time : transitions)
    time = reader.integer(width);
  std::vector<std::size_t> typeOf(counts->time);
  for (auto& type : typeOf)
    type = static_cast<std::size_t>(reader.integer(1));
  std::vector<int> typeOffsets(counts->type);
  for (auto& offset : typeOffsets) {
    offset = static_cast<int>(reader.integer(4));
    reader.skip(2);  // is-DST flag and abbreviation index
  }
  reader.skip(counts->chars + counts->leap * (width + 4) + counts->isStd + counts->isUt);
  std::vector<int> offsets;
  for (const std::size_t type : typeOf) {
    if (type >= typeOffsets.size())
      return nullptr;
    offsets.push_back(typeOffsets[type]);
  }
  std::optional<PosixZone> future;
  if (width == 8) {
    const std::string_view footer = reader.rest();
    if (footer.size() >= 2 && footer.front() == '\n') {
      const auto end = footer.find('\n', 1);
      const std::string_view text = footer.substr(1, end == std::string_view::npos ? 0 : end - 1);
      if (!text.empty())
        future = PosixZone::parse(text);
    }
  }
  if (!std::is_sorted(transitions.begin(), transitions.end()))
    return nullptr;
  return std::make_unique<TzifRules>(std::move(transitions), std::move(offsets), typeOffsets[0],
                                     std::move(future));
}

const ZoneRules* systemZoneRules(const std::string& name) {
  const bool plain =
      !name.empty() && name.size() < 128 && name.front() != '/' &&
      name.find("..") == std::string::npos && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '/' || c == '_' || c == '-' || c == '+';
      });
  if (!plain)
    return nullptr;
  // The system's zone data does not change while a run lasts, so each zone is read once per
  // process and kept, as libical keeps its own zones; a run uses a handful of them.
  static std::map<std::string, std::unique_ptr<ZoneRules>> loaded;
  const auto found = loaded.find(name);
  if (found != loaded.end())
    return found->second.get();
  std::unique_ptr<ZoneRules> rules;
  // Many zone names are links to others ("US/Eastern" to "America/New_York").
  if (const auto data = readFile(std::string(kZoneDirectory) + name, Links::follow))
    rules = parseTzif(*data);
  return loaded.emplace(name, std::move(rules)).first->second.get();
}

}  // namespace tembra::local
