#include <gtest/gtest.h>

#include "digest/ShortTime.h"
#include "support/FakeUi.h"

namespace companion::testing {
namespace {

struct TimeCase {
    const char* createdAt;
    // What the meta line shows: the fake display's "HH:MM" in UTC, or the text itself.
    const char* shown;
};

void PrintTo(const TimeCase& c, std::ostream* os) {
    *os << '"' << c.createdAt << '"';
}

class ShortTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(ShortTime, ShowsTimeOfDayOrTheTextUnchanged) {
    FakeUi ui;
    EXPECT_EQ(shortTime(GetParam().createdAt, ui), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ShortTime,
    ::testing::Values(TimeCase{"2025-03-01T14:05:09.250Z", "14:05"},
                      TimeCase{"2025-03-01T14:05:09Z", "14:05"},
                      TimeCase{"2025-03-01T14:05:09.123456789123Z", "14:05"},
                      // Fractions are dropped, never rounded into the next minute.
                      TimeCase{"2025-03-01T14:05:59.9999Z", "14:05"},
                      TimeCase{"2025-03-01T14:05:09+02:00", "12:05"},
                      TimeCase{"2025-03-01T00:10:00.5-01:30", "01:40"},
                      TimeCase{"2024-02-29T23:59:00Z", "23:59"},
                      TimeCase{"1969-12-31T23:58:30Z", "23:58"},
                      TimeCase{"2025-03-01 14:05:09", "2025-03-01 14:05:09"},
                      TimeCase{"2025-03-01T14:05:09", "2025-03-01T14:05:09"},
                      TimeCase{"2025-03-01T14:05:09+0200", "2025-03-01T14:05:09+0200"},
                      TimeCase{"2025-03-01t14:05:09z", "2025-03-01t14:05:09z"},
                      TimeCase{"2025-03-01T14:05:09.Z", "2025-03-01T14:05:09.Z"},
                      TimeCase{"2025-03-01T14:05:09Z ", "2025-03-01T14:05:09Z "},
                      TimeCase{"2025-13-01T14:05:09Z", "2025-13-01T14:05:09Z"},
                      TimeCase{"2025-02-29T14:05:09Z", "2025-02-29T14:05:09Z"},
                      TimeCase{"2025-03-01T24:00:00Z", "2025-03-01T24:00:00Z"},
                      TimeCase{"2025-03-01T14:05:09+24:00", "2025-03-01T14:05:09+24:00"},
                      TimeCase{"+2025-03-01T14:05:09Z", "+2025-03-01T14:05:09Z"},
                      TimeCase{"9999-12-31T23:59:59Z", "9999-12-31T23:59:59Z"},
                      TimeCase{"yesterday", "yesterday"}, TimeCase{"", ""}));

}  // namespace
}  // namespace companion::testing
