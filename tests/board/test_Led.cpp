#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <unistd.h>

#include "board/Led.h"

static std::string Pwm(const char *pszAttr)
{
    std::ifstream in(std::string(LED_PWM_DIR "/pwm0/") + pszAttr);
    std::string s;
    in >> s;
    return s;
}

// Dim while no stream flows, full while it does, blinking during an override.
TEST(LedTest, PwmFollowsStreamStateAndOverride)
{
    g_data_status = 0;
    Led_Init();
    usleep(3 * LED_PASS_MS * 1000);
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("period"));
    EXPECT_EQ("1", Pwm("enable"));
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS / 10), Pwm("duty_cycle"));

    g_data_status = 1;
    usleep(3 * LED_PASS_MS * 1000);
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("duty_cycle"));

    Led_Set_value(1);
    std::set<std::string> seen;
    for (int i = 0; i < 8; i++) {
        seen.insert(Pwm("duty_cycle"));
        usleep(LED_PASS_MS * 1000 / 2);
    }
    EXPECT_EQ(1u, seen.count("0"));
    EXPECT_EQ(1u, seen.count(std::to_string(LED_PWM_PERIOD_NS)));

    usleep((LED_COUNT_PASSES + 3) * LED_PASS_MS * 1000);       // the override has run down
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("duty_cycle"));
}
