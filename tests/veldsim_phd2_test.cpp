// veldsim's PHD2 stand-in without a socket: its answers, the shift it applies to the
// image the way PHD2 does, and its command line.
#include "tools/veldsim/phd2_standin.h"
#include "tools/veldsim/sim_options.h"

#include <QJsonArray>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QJsonObject Request(const char* method, const QJsonValue& params = QJsonValue::Undefined) {
    QJsonObject request{{"jsonrpc", "2.0"}, {"method", method}, {"id", 7}};
    if (!params.isUndefined())
        request.insert("params", params);
    return request;
}

QJsonObject ShiftParams(double ra, double dec, const char* units = "arcsec/hr") {
    return {{"rate", QJsonArray{ra, dec}}, {"units", units}, {"axes", "RA/Dec"}};
}

} // namespace

TEST(VeldsimPhd2, AppliesTheShiftAsPhd2DoesWithAndWithoutAMount) {
    Phd2Standin standin;
    standin.declinationDegrees = 60;
    std::optional<QJsonObject> answer =
        Phd2StandinAnswer(standin, Request("set_lock_shift_params", ShiftParams(-60, 15)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->value("id"), 7);
    EXPECT_TRUE(answer->contains("result"));
    // Set but not switched on: no motion.
    EXPECT_EQ(Phd2StandinSkyRates(standin).ra, 0);
    Phd2StandinAnswer(standin, Request("set_lock_shift_enabled", QJsonArray{true}));
    // No mount: the RA rate is taken as a rate on the sky.
    EXPECT_EQ(Phd2StandinSkyRates(standin).ra, -60);
    EXPECT_EQ(Phd2StandinSkyRates(standin).dec, 15);
    // A mount: a rate of the RA coordinate, so cos 60 deg = 0.5 of it on the sky.
    standin.mountConnected = true;
    EXPECT_NEAR(Phd2StandinSkyRates(standin).ra, -30, 1e-9);
    EXPECT_EQ(Phd2StandinAnswer(standin, Request("get_current_equipment"))
                  ->value("result")["mount"]["connected"],
              true);
    EXPECT_EQ(Phd2StandinAnswer(standin, Request("get_lock_shift_params"))->value("result")["rate"],
              (QJsonArray{-60, 15}));
    standin.guiding = false;
    EXPECT_EQ(Phd2StandinSkyRates(standin).dec, 0);
    standin.guiding = true;

    // Refused requests leave the shift as it was.
    for (const QJsonObject& bad :
         {Request("set_lock_shift_params", ShiftParams(1, 2, "pixels/hr")),
          Request("set_lock_shift_params", QJsonObject{{"rate", QJsonArray{1}}}),
          Request("set_lock_shift_enabled", QJsonArray{"yes"}), Request("no_such_method")}) {
        answer = Phd2StandinAnswer(standin, bad);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->value("error")["message"].isString())
            << bad.value("method").toString().toStdString();
    }
    EXPECT_EQ(Phd2StandinSkyRates(standin).dec, 15);

    standin.silent = true;
    EXPECT_FALSE(Phd2StandinAnswer(standin, Request("get_pixel_scale")));
}

TEST(VeldsimPhd2, CommandLine) {
    SimOptions options;
    bool help = false;
    ASSERT_EQ(ParseSimOptions({"--folder", "f", "--guider", "phd2", "--port", "4471",
                               "--phd2-mount", "--phd2-at", "0:quit,3:start,5:start-guiding"},
                              options, help),
              "");
    EXPECT_EQ(options.guider, "phd2");
    EXPECT_EQ(options.port, 4471);
    EXPECT_TRUE(options.phd2Mount);
    ASSERT_EQ(options.phd2Schedule.size(), 3u);
    EXPECT_EQ(options.phd2Schedule[1], (std::pair<int, std::string>{3, "start"}));
    for (std::vector<std::string> bad : {std::vector<std::string>{"--guider", "metaguide"},
                                         {"--port", "0"},
                                         {"--port", "70000"},
                                         {"--phd2-at", "3:explode"},
                                         {"--phd2-at", "x:quit"},
                                         {"--phd2-at", "3:quit,"}}) {
        SimOptions other;
        bad.insert(bad.begin(), {"--folder", "f"});
        EXPECT_NE(ParseSimOptions(bad, other, help), "") << bad[2] << " " << bad[3];
    }
}
