#include "audio/AudioTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace Kelvane;

TEST(AudioTypes, OnlySingleKnownRateFlagsHaveHzAndNamesForLogAndDialog)
{
    for (const auto& [flag, hz] : {std::pair{Rate22050, 22050}, std::pair{Rate44100, 44100},
                                   std::pair{Rate48000, 48000}, std::pair{Rate96000, 96000}})
        EXPECT_EQ(sampleRateToHz(flag), hz);
    for (int32_t other : {0, 3, 12, 15, 16, -1, 0x7FFFFFFF})
        EXPECT_EQ(sampleRateToHz(other), 0) << other;
    for (const auto& [format, name] : {std::pair{int32_t(SampleFormatInt16), L"Int 16bit"},
                                       std::pair{int32_t(SampleFormatInt32), L"Int 32bit"},
                                       std::pair{int32_t(SampleFormatFloat32), L"Float 32bit"},
                                       std::pair{3, L"Unknown"}, std::pair{0, L"Unknown"}})
        EXPECT_EQ(std::wstring(sampleFormatName(format)), name);
    EXPECT_EQ(std::wstring(driverTypeName(DriverWasapi)), L"Windowsドライバ");
    EXPECT_EQ(std::wstring(driverTypeName(DriverAsio)), L"ASIOドライバ");
    EXPECT_EQ(std::wstring(driverTypeName(DriverAuto)), L"");
}
