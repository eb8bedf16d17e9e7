#include "audio/AudioTypes.h"

#include <gtest/gtest.h>

#include <string>

using namespace Kelvane;

TEST(AudioTypes, OnlySingleKnownRateFlagsHaveHz)
{
    EXPECT_EQ(sampleRateToHz(Rate22050), 22050);
    EXPECT_EQ(sampleRateToHz(Rate44100), 44100);
    EXPECT_EQ(sampleRateToHz(Rate48000), 48000);
    EXPECT_EQ(sampleRateToHz(Rate96000), 96000);
    for (int32_t other : {0, 3, 12, 15, 16, -1, 0x7FFFFFFF})
        EXPECT_EQ(sampleRateToHz(other), 0) << other;
}

TEST(AudioTypes, FormatAndDriverNamesForLogAndDialog)
{
    EXPECT_EQ(std::wstring(sampleFormatName(SampleFormatInt16)), L"Int 16bit");
    EXPECT_EQ(std::wstring(sampleFormatName(SampleFormatInt32)), L"Int 32bit");
    EXPECT_EQ(std::wstring(sampleFormatName(SampleFormatFloat32)), L"Float 32bit");
    EXPECT_EQ(std::wstring(sampleFormatName(3)), L"Unknown");
    EXPECT_EQ(std::wstring(sampleFormatName(0)), L"Unknown");
    EXPECT_EQ(std::wstring(driverTypeName(DriverWasapi)), L"Windowsドライバ");
    EXPECT_EQ(std::wstring(driverTypeName(DriverAsio)), L"ASIOドライバ");
    EXPECT_EQ(std::wstring(driverTypeName(DriverAuto)), L"");
}
