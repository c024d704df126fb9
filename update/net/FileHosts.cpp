#include "update/net/FileHosts.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace vestrel {

FileHosts::FileHosts(std::size_t count) : hosts_(std::max<std::size_t>(count, 1)) {}

std::size_t FileHosts::pick(Clock::time_point now, Clock::time_point& back) {
  back = Clock::time_point::max();
  for (std::size_t step = 0; step < hosts_.size(); ++step) {
    const std::size_t host = (current_ + step) % hosts_.size();
    if (hosts_[host].restsUntil <= now) {
      lastAsked_ = host;
      return host;
    }
    back = std::min(back, hosts_[host].restsUntil);
  }
  return kNoHost;
}

std::size_t FileHosts::ask(Clock::time_point now) {
  Clock::time_point back;
  if (pick(now, back) == kNoHost) {
    lastAsked_ = current_;
  }
  return lastAsked_;
}

std::size_t FileHosts::askedToWait(Clock::time_point now, Clock::time_point& back) const {
  back = Clock::time_point::max();
  std::size_t first = kNoHost;
  for (std::size_t host = 0; host < hosts_.size(); ++host) {
    if (hosts_[host].askedUntil > now && hosts_[host].askedUntil < back) {
      back = hosts_[host].askedUntil;
      first = host;
    }
  }
  return first;
}

bool FileHosts::failed(std::size_t host, Clock::time_point now,
                       std::optional<std::chrono::seconds> wait) {
  if (host >= hosts_.size()) {
    return false;
  }
  Host& failing = hosts_[host];
  if (wait.has_value()) {
    // The host said when to come back: that holds, however many of its answers said so.
    failing.askedUntil = std::max(failing.askedUntil,
                                  now + std::min<std::chrono::seconds>(*wait, kLongestRetryAfter));
    failing.restsUntil = std::max(failing.restsUntil, failing.askedUntil);
  } else if (hosts_.size() > 1 && ++failing.failuresInARow >= kHostFailuresInARow) {
    failing.restsUntil = std::max(failing.restsUntil, now + kHostRest);
    failing.failuresInARow = 0;
  }
  // Only the current host's failure moves the run: a transfer that went out before the run
  // moved on says nothing of where it is now.
  if (host != current_ || hosts_.size() == 1) {
    return false;
  }
  current_ = (current_ + 1) % hosts_.size();
  return true;
}

void FileHosts::answered(std::size_t host) {
  if (host < hosts_.size()) {
    hosts_[host].failuresInARow = 0;
  }
}

namespace {

bool number(std::string_view text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// "Sun, 06 Nov 1994 08:49:37 GMT" in Unix seconds.
std::optional<std::int64_t> httpDate(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 29 || text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' ||
      text[16] != ' ' || text[19] != ':' || text[22] != ':' || text.substr(25) != " GMT") {
    return std::nullopt;
  }
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(8, 3));
  if (month == kMonths.end() || !number(text.substr(5, 2), day) ||
      !number(text.substr(12, 4), year) || !number(text.substr(17, 2), hour) ||
      !number(text.substr(20, 2), minute) || !number(text.substr(23, 2), second) || day < 1 ||
      day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  const auto monthNumber = static_cast<unsigned>(month - kMonths.begin() + 1);
  return daysFromCivil(year, monthNumber, static_cast<unsigned>(day)) * 86400 + hour * 3600 +
         minute * 60 + second;
}

}  // namespace

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::int64_t nowUnixSeconds) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    value.remove_suffix(1);
  }
  std::int64_t seconds = 0;
  if (!value.empty() && value.size() <= 18 &&
      std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::from_chars(value.data(), value.data() + value.size(), seconds);
  } else if (const std::optional<std::int64_t> date = httpDate(value)) {
    seconds = std::max<std::int64_t>(*date - nowUnixSeconds, 0);
  } else {
    return std::nullopt;
  }
  return std::chrono::seconds(std::min<std::int64_t>(seconds, kLongestRetryAfter.count()));
}

std::chrono::milliseconds jittered(std::chrono::milliseconds backOff, std::uint64_t random) {
  if (backOff.count() <= 0) {
    return std::chrono::milliseconds(0);
  }
  const auto span = static_cast<std::uint64_t>(backOff.count()) + 1;
  return std::chrono::milliseconds(static_cast<std::int64_t>(random % span));
}

}  // namespace vestrel
