#include "testdrivers/endpoint/EndpointConfig.h"

#include <gtest/gtest.h>

using namespace PomaroTestEndpoint;

namespace {
EndpointConfig parseOk(const std::string& text)
{
    EndpointConfig c;
    std::string error;
    EXPECT_TRUE(parseEndpointConfig(text, c, error)) << error;
    return c;
}
std::string parseError(const std::string& text)
{
    EndpointConfig c;
    std::string error;
    EXPECT_FALSE(parseEndpointConfig(text, c, error));
    return error;
}
} // namespace

TEST(EndpointConfig, FullExampleReadsEveryKey)
{
    EndpointConfig c = parseOk("\xEF\xBB\xBF# recording\n"
                               "wav = C:\\out\\r.wav\r\n"
                               "fail = EnumAudioEndpoints#3:0x88890004\n"
                               "[endpoint]\n"
                               "name = Speakers \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\n"
                               "rates = 22050, 96000\n"
                               "period = 100000\n min_period = 30000\n"
                               "align = 32\nnot_aligned = 480:512\nextra_frames = 16\nmix_rate = 44100\n"
                               "fail = Initialize#2:0x88890004, Start\n"
                               "[endpoint]\n"
                               "id = custom\nstate = unplugged\nflow = capture\n");
    EXPECT_EQ(c.wavPath, "C:\\out\\r.wav");
    EXPECT_EQ(c.statsPath, "C:\\out\\r.wav.stats.txt");
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_EQ(c.failures[0].call, Call::EnumAudioEndpoints);
    EXPECT_EQ(c.failures[0].nth, 3u);
    EXPECT_EQ(uint32_t(c.failures[0].hr), 0x88890004u);
    ASSERT_EQ(c.endpoints.size(), 2u);
    const EndpointSpec& a = c.endpoints[0];
    EXPECT_TRUE(a.hasName);
    EXPECT_EQ(a.name, "Speakers \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
    EXPECT_EQ(a.rates, (std::vector<uint32_t>{22050, 96000}));
    EXPECT_EQ(a.defaultPeriod, 100000);
    EXPECT_EQ(a.minPeriod, 30000);
    EXPECT_EQ(a.alignFrames, 32u);
    EXPECT_EQ(a.notAlignedRequest, 480u);
    EXPECT_EQ(a.notAlignedAnswer, 512u);
    EXPECT_EQ(a.extraFrames, 16u);
    EXPECT_EQ(a.mixRate, 44100u);
    ASSERT_EQ(a.failures.size(), 2u);
    EXPECT_EQ(a.failures[0].call, Call::Initialize);
    EXPECT_EQ(a.failures[0].nth, 2u);
    EXPECT_EQ(a.failures[1].call, Call::Start);
    EXPECT_EQ(a.failures[1].nth, 0u);
    EXPECT_EQ(uint32_t(a.failures[1].hr), 0x80004005u);
    EXPECT_EQ(a.id, "{0.0.0.00000000}.{pomaro-test-endpoint-0}");
    const EndpointSpec& b = c.endpoints[1];
    EXPECT_FALSE(b.hasName) << "an endpoint without a name key has no readable name";
    EXPECT_EQ(b.id, "custom");
    EXPECT_EQ(b.state, uint32_t(StateUnplugged));
    EXPECT_FALSE(b.render);
    EXPECT_EQ(b.rates, (std::vector<uint32_t>{44100, 48000}));
}

TEST(EndpointConfig, EmptyNameIsAName)
{
    EndpointConfig c = parseOk("[endpoint]\nname =\n");
    EXPECT_TRUE(c.endpoints[0].hasName);
    EXPECT_EQ(c.endpoints[0].name, "");
    EXPECT_TRUE(c.wavPath.empty());
    EXPECT_TRUE(c.statsPath.empty()) << "no recording, no statistics file";
}

TEST(EndpointConfig, BadLinesNameTheirLine)
{
    EXPECT_EQ(parseError("wav = x\n\n[endpoint]\nrate = 48000\n"),
              "line 4: unknown key 'rate' in [endpoint]");
    EXPECT_EQ(parseError("[speakers]\n"), "line 1: unknown section [speakers]");
    EXPECT_EQ(parseError("[endpoint]\nrates = 48000 fast\n"), "line 2: bad rate 'fast'");
    EXPECT_EQ(parseError("[endpoint]\nperiod = 0\n"), "line 2: bad period '0'");
    EXPECT_EQ(parseError("[endpoint]\nnot_aligned = 480\n"),
              "line 2: not_aligned wants REQUEST:ALIGNED frame counts");
    EXPECT_EQ(parseError("[endpoint]\nstate = sleeping\n"), "line 2: unknown state 'sleeping'");
    EXPECT_EQ(parseError("[endpoint]\njust text\n"), "line 2: expected key = value");
}

TEST(EndpointConfig, FailuresAreCheckedForPlaceAndResult)
{
    EXPECT_EQ(parseError("[endpoint]\nfail = Initalize\n"), "line 2: unknown call 'Initalize'");
    EXPECT_EQ(parseError("fail = Start\n"), "line 1: 'Start' belongs in an [endpoint] section");
    EXPECT_EQ(parseError("[endpoint]\nfail = GetCount\n"),
              "line 2: 'GetCount' belongs before the first [endpoint]");
    // A success code would make the "failure" a silent no-op.
    EXPECT_EQ(parseError("[endpoint]\nfail = Start:0x1\n"), "line 2: bad failure result '0x1'");
    EXPECT_EQ(parseError("[endpoint]\nfail = Start#0\n"), "line 2: bad call number '0'");
}

TEST(EndpointConfig, InconsistentEndpointsAreRefused)
{
    EXPECT_EQ(parseError("[endpoint]\nperiod = 30000\nmin_period = 100000\n"),
              "endpoint '{0.0.0.00000000}.{pomaro-test-endpoint-0}': min_period above period");
    EXPECT_EQ(parseError("[endpoint]\nid = a\n[endpoint]\nid = a\n"), "two endpoints with the id 'a'");
}

TEST(FaultPlan, EveryOrOnlyTheNthCall)
{
    std::vector<FailRule> rules;
    std::string error;
    ASSERT_TRUE(parseFailRules("Initialize#2:0x88890004, Start", false, rules, error)) << error;
    FaultPlan plan(rules);
    EXPECT_EQ(plan.onCall(Call::Initialize), 0);
    EXPECT_EQ(uint32_t(plan.onCall(Call::Initialize)), 0x88890004u);
    EXPECT_EQ(plan.onCall(Call::Initialize), 0);
    EXPECT_EQ(uint32_t(plan.onCall(Call::Start)), 0x80004005u);
    EXPECT_EQ(uint32_t(plan.onCall(Call::Start)), 0x80004005u);
    EXPECT_EQ(plan.onCall(Call::Stop), 0);
    EXPECT_EQ(plan.calls(Call::Initialize), 3u);
    // A copy starts counting afresh, as a new enumerator does.
    FaultPlan copy;
    copy = plan;
    EXPECT_EQ(copy.calls(Call::Initialize), 0u);
    EXPECT_EQ(copy.onCall(Call::Initialize), 0);
    EXPECT_NE(copy.onCall(Call::Initialize), 0);
}
