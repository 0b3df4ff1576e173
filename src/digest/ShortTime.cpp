#include "digest/ShortTime.h"

#include <cstdint>

#include "platform/Ui.h"

namespace companion {

namespace {

using namespace std::chrono;

// Reads exactly `count` ASCII digits, so locale digits and signs never slip in.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    std::optional<int> digits(std::size_t count) {
        if (text_.size() - at_ < count) {
            return std::nullopt;
        }
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char c = text_[at_ + i];
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            value = value * 10 + (c - '0');
        }
        at_ += count;
        return value;
    }

    bool literal(char expected) {
        if (at_ < text_.size() && text_[at_] == expected) {
            ++at_;
            return true;
        }
        return false;
    }

    std::optional<char> peek() const {
        return at_ < text_.size() ? std::optional<char>(text_[at_]) : std::nullopt;
    }

    // Reads the digits of a fraction of a second, keeping nanoseconds and dropping the rest, so a
    // time is never rounded into the next minute.
    std::optional<nanoseconds> fraction() {
        std::int64_t value = 0;
        int kept = 0;
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            if (kept < 9) {
                value = value * 10 + (text_[at_] - '0');
                ++kept;
            }
            ++at_;
        }
        if (at_ == start) {
            return std::nullopt;
        }
        for (; kept < 9; ++kept) {
            value *= 10;
        }
        return nanoseconds(value);
    }

    bool atEnd() const { return at_ == text_.size(); }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Parsed {
    sys_seconds seconds;
    nanoseconds fraction{0};
};

std::optional<Parsed> parse(std::string_view text, bool withFraction) {
    Cursor cursor(text);
    const auto year = cursor.digits(4);
    if (!year || !cursor.literal('-')) {
        return std::nullopt;
    }
    const auto month = cursor.digits(2);
    if (!month || !cursor.literal('-')) {
        return std::nullopt;
    }
    const auto day = cursor.digits(2);
    if (!day || !cursor.literal('T')) {
        return std::nullopt;
    }
    const auto hour = cursor.digits(2);
    if (!hour || !cursor.literal(':')) {
        return std::nullopt;
    }
    const auto minute = cursor.digits(2);
    if (!minute || !cursor.literal(':')) {
        return std::nullopt;
    }
    const auto second = cursor.digits(2);
    if (!second) {
        return std::nullopt;
    }
    nanoseconds fraction{0};
    if (withFraction) {
        if (!cursor.literal('.')) {
            return std::nullopt;
        }
        const auto read = cursor.fraction();
        if (!read) {
            return std::nullopt;
        }
        fraction = *read;
    }

    minutes offset{0};
    if (!cursor.literal('Z')) {
        const auto sign = cursor.peek();
        if (sign != '+' && sign != '-') {
            return std::nullopt;
        }
        cursor.literal(*sign);
        const auto offsetHours = cursor.digits(2);
        if (!offsetHours || !cursor.literal(':')) {
            return std::nullopt;
        }
        const auto offsetMinutes = cursor.digits(2);
        if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) {
            return std::nullopt;
        }
        offset = hours(*offsetHours) + minutes(*offsetMinutes);
        if (*sign == '-') {
            offset = -offset;
        }
    }
    if (!cursor.atEnd()) {
        return std::nullopt;
    }

    const year_month_day date{std::chrono::year(*year), std::chrono::month(*month),
                              std::chrono::day(*day)};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    const sys_seconds local =
        sys_days(date) + hours(*hour) + minutes(*minute) + std::chrono::seconds(*second);
    return Parsed{local - offset, fraction};
}

}  // namespace

std::optional<system_clock::time_point> parseInternetDateTime(std::string_view text) {
    auto parsed = parse(text, /*withFraction=*/true);
    if (!parsed) {
        parsed = parse(text, /*withFraction=*/false);
    }
    if (!parsed) {
        return std::nullopt;
    }
    // The clock counts nanoseconds in 64 bits, about 292 years either side of 1970.
    using Clock = system_clock::duration;
    constexpr auto limit =
        duration_cast<std::chrono::seconds>(Clock::max()) - std::chrono::seconds(1);
    const auto sinceEpoch = parsed->seconds.time_since_epoch();
    if (sinceEpoch > limit || sinceEpoch < -limit) {
        return std::nullopt;
    }
    return system_clock::time_point(duration_cast<Clock>(sinceEpoch) +
                                    duration_cast<Clock>(parsed->fraction));
}

std::string shortTime(const std::string& text, const Ui& ui) {
    if (const auto instant = parseInternetDateTime(text)) {
        return ui.shortTimeOfDay(*instant);
    }
    return text;
}

}  // namespace companion
