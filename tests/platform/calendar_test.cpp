#include <gtest/gtest.h>

#include "platform/calendar.h"
#include "platform/last_error.h"

namespace kairovel::platform {
namespace {

SYSTEMTIME Record(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t;
    t.wYear = static_cast<std::uint16_t>(y);
    t.wMonth = static_cast<std::uint16_t>(mo);
    t.wDay = static_cast<std::uint16_t>(d);
    t.wHour = static_cast<std::uint16_t>(h);
    t.wMinute = static_cast<std::uint16_t>(mi);
    t.wSecond = static_cast<std::uint16_t>(s);
    t.wMilliseconds = static_cast<std::uint16_t>(ms);
    return t;
}

std::uint64_t Count(const SYSTEMTIME& t) {
    FILETIME f;
    EXPECT_TRUE(SystemTimeToFileTime(t, f));
    return FileTimeCount(f);
}

TEST(Calendar, KnownInstantsInHundredNanoseconds) {
    EXPECT_EQ(Count(Record(1601, 1, 1)), 0u);
    EXPECT_EQ(Count(Record(1970, 1, 1)), kUnixEpochFileTime);
    EXPECT_EQ(Count(Record(1999, 4, 17, 9, 3, 43, 5)), 125'688'134'230'050'000ULL);
    EXPECT_EQ(Count(Record(1900, 1, 1)) + 4'294'967'295ULL * kFileTimeUnitsPerSecond,
              Count(Record(2036, 2, 7, 6, 28, 15)));
}

TEST(Calendar, RoundTripSetsTheDayOfTheWeek) {
    for (const auto& t : {Record(1601, 1, 1), Record(1900, 2, 28, 23, 59, 59, 999), Record(2000, 2, 29, 12),
                          Record(2038, 1, 19, 3, 14, 8), Record(9999, 12, 31, 23, 59, 59, 999)}) {
        SYSTEMTIME back;
        ASSERT_TRUE(FileTimeToSystemTime(FileTimeFromCount(Count(t)), back));
        EXPECT_EQ(back.wYear, t.wYear);
        EXPECT_EQ(back.wMonth, t.wMonth);
        EXPECT_EQ(back.wDay, t.wDay);
        EXPECT_EQ(back.wHour, t.wHour);
        EXPECT_EQ(back.wMinute, t.wMinute);
        EXPECT_EQ(back.wSecond, t.wSecond);
        EXPECT_EQ(back.wMilliseconds, t.wMilliseconds);
    }
    SYSTEMTIME monday;
    FileTimeToSystemTime(FileTimeFromCount(0), monday);
    EXPECT_EQ(monday.wDayOfWeek, 1);
    SYSTEMTIME saturday;
    FileTimeToSystemTime(FileTimeFromCount(Count(Record(1999, 4, 17))), saturday);
    EXPECT_EQ(saturday.wDayOfWeek, 6);
}

TEST(Calendar, ImpossibleRecordsAreRefused) {
    FILETIME f;
    for (const auto& t : {Record(1999, 13, 1), Record(1999, 0, 1), Record(1999, 2, 29), Record(1999, 1, 0),
                          Record(1999, 1, 1, 24), Record(1999, 1, 1, 0, 60), Record(1999, 1, 1, 0, 0, 60),
                          Record(1999, 1, 1, 0, 0, 0, 1000), Record(1600, 12, 31)}) {
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(t, f));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(FileTimeFromCount(0x8000'0000'0000'0000ULL), out));
}

TEST(Calendar, CompareFileTime) {
    EXPECT_EQ(CompareFileTime(FileTimeFromCount(1), FileTimeFromCount(2)), -1);
    EXPECT_EQ(CompareFileTime(FileTimeFromCount(2), FileTimeFromCount(2)), 0);
    EXPECT_EQ(CompareFileTime(FileTimeFromCount(1ULL << 40), FileTimeFromCount(2)), 1);
}

}  // namespace
}  // namespace kairovel::platform
