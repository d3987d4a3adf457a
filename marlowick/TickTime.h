#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <string>

namespace marlowick {

/// A time on the tick scale (100 ns since 0001-01-01), for messages: "{:s}" (or "{}") shows
/// it as YYYY-MM-DDThh:mm:ss, read from the tick value itself without any time zone.
struct TickTime {
  std::int64_t ticks;
};

/// `ticks` as YYYY-MM-DDThh:mm:ss. Values outside 0001-01-01 to 9999-12-31 (the unknown time
/// included) show as 9999-12-31T23:59:59.
std::string formatTickTime(std::int64_t ticks);

}  // namespace marlowick

template <>
struct fmt::formatter<marlowick::TickTime> {
  constexpr auto parse(fmt::format_parse_context& context) {
    auto it = context.begin();
    if (it != context.end() && *it == 's') ++it;
    if (it != context.end() && *it != '}') throw fmt::format_error("invalid tick time format");
    return it;
  }
  template <typename Context>
  auto format(const marlowick::TickTime& time, Context& context) const {
    std::string text = marlowick::formatTickTime(time.ticks);
    return std::copy(text.begin(), text.end(), context.out());
  }
};
