// PHD2's protocol and session without a socket: the exact requests, answers found by id
// among events, the line framing, failures, and what is applied again when.
#include "veldra/guider/dither_events.h"
#include "veldra/guider/guider_choice.h"
#include "veldra/guider/phd2_protocol.h"
#include "veldra/guider/phd2_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QJsonObject Parsed(const QByteArray& line) {
    EXPECT_TRUE(line.endsWith("\r\n")) << line.toStdString();
    return QJsonDocument::fromJson(line).object();
}

std::vector<std::string> Methods(const Phd2Output& out) {
    std::vector<std::string> methods;
    for (const QByteArray& line : out.send)
        methods.push_back(Parsed(line).value("method").toString().toStdString());
    return methods;
}

QByteArray Answer(const QByteArray& request, const QJsonValue& result) {
    const QJsonObject answer{
        {"jsonrpc", "2.0"}, {"result", result}, {"id", Parsed(request).value("id")}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact) + "\r\n";
}

QByteArray Event(const QJsonObject& fields) {
    QJsonObject event = fields;
    event.insert("Timestamp", 1.7e9);
    event.insert("Host", "observatory");
    event.insert("Inst", 1);
    return QJsonDocument(event).toJson(QJsonDocument::Compact) + "\r\n";
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

QJsonObject Equipment(bool mount) {
    return QJsonObject{{"camera", QJsonObject{{"name", "Simulator"}, {"connected", true}}},
                       {"mount", QJsonObject{{"name", "On-camera"}, {"connected", mount}}}};
}

} // namespace

TEST(Phd2Protocol, FramesLinesAndMatchesAnswersByIdAmongEvents) {
    Phd2Protocol protocol;
    const QByteArray first = Phd2Request(protocol, "get_pixel_scale", QJsonValue(), 10);
    const QByteArray second = Phd2Request(protocol, "set_lock_shift_enabled", QJsonArray{true}, 10);
    const QJsonObject request = Parsed(second);
    EXPECT_EQ(request.value("jsonrpc"), "2.0");
    EXPECT_EQ(request.value("method"), "set_lock_shift_enabled");
    EXPECT_EQ(request.value("params"), (QJsonArray{true}));
    EXPECT_FALSE(Parsed(first).contains("params"));
    EXPECT_NE(Parsed(first).value("id"), request.value("id"));

    // The second request answered first, with an error, amid events; the first answer
    // and an event arrive split across reads, then two lines in one read.
    const QByteArray errorAnswer =
        R"({"jsonrpc":"2.0","error":{"code":1,"message":"not guiding"},"id":)" +
        QByteArray::number(request.value("id").toInteger()) + "}\r\n";
    const QByteArray stream = Event({{"Event", "GuideStep"}}) + errorAnswer + Answer(first, 1.5) +
                              Event({{"Event", "AppState"}, {"State", "Guiding"}});
    const qsizetype split = stream.indexOf("\"result\"");
    std::vector<Phd2Incoming> lines = Phd2Feed(protocol, QByteArrayView(stream).first(split));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].kind, Phd2Incoming::Kind::Event);
    EXPECT_EQ(lines[0].event, "GuideStep");
    EXPECT_EQ(lines[1].kind, Phd2Incoming::Kind::Answer);
    EXPECT_EQ(lines[1].method, "set_lock_shift_enabled");
    EXPECT_EQ(lines[1].params, "[true]");
    EXPECT_TRUE(lines[1].failed);
    EXPECT_EQ(lines[1].errorCode, 1);
    EXPECT_EQ(lines[1].errorMessage, "not guiding");
    EXPECT_EQ(protocol.pending.size(), 1u);

    lines = Phd2Feed(protocol, QByteArrayView(stream).sliced(split));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].kind, Phd2Incoming::Kind::Answer);
    EXPECT_EQ(lines[0].method, "get_pixel_scale");
    EXPECT_FALSE(lines[0].failed);
    EXPECT_EQ(lines[0].object.value("result").toDouble(), 1.5);
    EXPECT_EQ(lines[1].event, "AppState");
    EXPECT_TRUE(protocol.pending.empty());
    EXPECT_TRUE(protocol.buffer.isEmpty());

    // An answer nobody waits for, garbage and a bare LF line end; the stream goes on.
    lines = Phd2Feed(protocol, Answer(first, 2.0) + "Welcome!\r\n[1,2]\r\n{\"x\":1}\n\r\n" +
                                   Event({{"Event", "Paused"}}));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].kind, Phd2Incoming::Kind::Stray);
    EXPECT_EQ(lines[1].kind, Phd2Incoming::Kind::Garbage);
    EXPECT_EQ(lines[1].line, "Welcome!");
    EXPECT_EQ(lines[2].kind, Phd2Incoming::Kind::Garbage);
    EXPECT_EQ(lines[3].kind, Phd2Incoming::Kind::Garbage);
    EXPECT_EQ(lines[4].event, "Paused");

    // A line that never ends is dropped once it passes the limit.
    lines = Phd2Feed(protocol, QByteArray(kPhd2MaxLineBytes + 1, 'x'));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, Phd2Incoming::Kind::Garbage);
    EXPECT_TRUE(protocol.buffer.isEmpty());

    // Deadlines.
    Phd2Request(protocol, "a", QJsonValue(), 5);
    Phd2Request(protocol, "b", QJsonValue(), 3);
    EXPECT_EQ(Phd2NextDeadline(protocol), 3);
    const std::vector<Phd2PendingRequest> expired = Phd2TakeExpired(protocol, 4);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].method, "b");
    EXPECT_EQ(Phd2Reset(protocol).size(), 1u);
    EXPECT_FALSE(Phd2NextDeadline(protocol));
}

// The rate PHD2 wants for RA: it multiplies by cos(DEC) itself when it knows DEC.
TEST(Phd2Session, RaRateIsACoordinateRateOnlyWhenPhd2KnowsTheDeclination) {
    EXPECT_DOUBLE_EQ(Phd2RaRate(30, 0, true), 30);
    EXPECT_NEAR(Phd2RaRate(30, 60, true), 60, 1e-9); // cos 60 deg = 0.5
    EXPECT_NEAR(Phd2RaRate(30, -60, true), 60, 1e-9);
    EXPECT_DOUBLE_EQ(Phd2RaRate(30, 60, false), 30);
    EXPECT_DOUBLE_EQ(Phd2RaRate(30, std::nan(""), true), 30);
    const double nearPole = Phd2RaRate(30, 90, true);
    EXPECT_TRUE(std::isfinite(nearPole));
    EXPECT_NEAR(nearPole, 30 / std::cos(89.9 * 3.14159265358979 / 180), 1e-6);
}

TEST(Phd2Session, AppliesTheWishesOnConnectAfterTheCalibrationAndAgainOnStartGuiding) {
    Phd2Session session;
    // Wishes while the first attempt is under way: kept, nothing logged.
    Phd2Output out = Phd2SetShiftEnabled(session, false, 0);
    out = Phd2SetShiftRates(session, {30, -15, 60}, 0);
    EXPECT_TRUE(out.send.empty());
    EXPECT_TRUE(out.log.empty());
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 connecting");

    out = Phd2Connected(session, 1);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"get_current_equipment", "get_pixel_scale",
                                                      "get_calibration_data"}));
    EXPECT_EQ(Parsed(out.send[2]).value("params"), (QJsonObject{{"which", "Mount"}}));
    const QByteArray equipment = out.send[0];
    const QByteArray scale = out.send[1];
    const QByteArray calibration = out.send[2];
    // A wish while the calibration is unknown waits for it.
    EXPECT_TRUE(Phd2SetShiftEnabled(session, true, 1).send.empty());

    out = Phd2Received(session,
                       Event({{"Event", "Version"}, {"PHDVersion", "2.6.13"}}) +
                           Event({{"Event", "AppState"}, {"State", "Looping"}}) +
                           Answer(equipment, Equipment(true)) + Answer(scale, 1.5) +
                           Answer(calibration, QJsonObject{{"calibrated", true},
                                                           {"xAngle", 10.0},
                                                           {"yAngle", 100.0},
                                                           {"xParity", "+"},
                                                           {"yParity", "-"},
                                                           {"declination", 60.0}}),
                       1.1);
    ASSERT_EQ(Methods(out),
              (std::vector<std::string>{"set_lock_shift_params", "set_lock_shift_enabled"}));
    const QJsonObject params = Parsed(out.send[0]).value("params").toObject();
    EXPECT_NEAR(params.value("rate").toArray()[0].toDouble(), 60, 1e-9); // 30 / cos 60 deg
    EXPECT_EQ(params.value("rate").toArray()[1].toDouble(), -15);
    EXPECT_EQ(params.value("units"), "arcsec/hr");
    EXPECT_EQ(params.value("axes"), "RA/Dec");
    EXPECT_EQ(Parsed(out.send[1]).value("params"), (QJsonArray{true}));
    EXPECT_EQ(session.pixelScale, 1.5);
    ASSERT_TRUE(session.calibration);
    EXPECT_EQ(session.calibration->yParity, "-");
    // The dither map's camera; a new camera starts the measured map afresh, a reconnection
    // (no camera for a moment) and the same camera again keep it.
    DitherTrack track;
    track.fit.sums.count = 5;
    ASSERT_TRUE(SetGuideCamera(track, GuideCameraOf(session)));
    EXPECT_EQ(track.fit.sums.count, 0);
    EXPECT_EQ(track.camera->yParity, -1);
    EXPECT_EQ(track.camera->xAngle, 10);
    track.fit.sums.count = 5;
    EXPECT_FALSE(SetGuideCamera(track, std::nullopt));
    EXPECT_FALSE(SetGuideCamera(track, GuideCameraOf(session)));
    EXPECT_EQ(track.fit.sums.count, 5);
    EXPECT_TRUE(Contains(out.log, " :    PHD2 version 2.6.13"));
    EXPECT_TRUE(Contains(out.log, " :    PHD2 answered get_current_equipment: mount On-camera, "
                                  "aux mount none, AO none"));
    EXPECT_TRUE(Contains(out.log, " : PHD2 multiplies the RA shift rate by cos(DEC): its "
                                  "calibration has a declination (60)"));
    EXPECT_TRUE(Contains(out.log, " :    PHD2 answered get_pixel_scale: 1.5 arcsec/pixel"));
    EXPECT_TRUE(Contains(out.log, "get_calibration_data {\"which\":\"Mount\"}: calibrated, "
                                  "xAngle 10, yAngle 100"));
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 connected, not guiding");

    // An error answer is logged with PHD2's message and shown until a request succeeds.
    out =
        Phd2Received(session,
                     R"({"jsonrpc":"2.0","error":{"code":1,"message":"no lock position"},"id":)" +
                         QByteArray::number(Parsed(out.send[0]).value("id").toInteger()) + "}\r\n",
                     1.2);
    EXPECT_TRUE(Contains(out.log, " :    PHD2 answered set_lock_shift_params {"));
    EXPECT_TRUE(Contains(out.log, "error 1: no lock position"));
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 connected, not guiding; "
                                       "failed: set_lock_shift_params: no lock position");

    // A new start of guiding reads the calibration again and applies the wishes again
    // (now PHD2's "unknown declination", an ST-4 class mount: the sky rate as it is).
    out = Phd2Received(session, Event({{"Event", "StartGuiding"}}), 2);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"get_calibration_data"}));
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 guiding; "
                                       "failed: set_lock_shift_params: no lock position");
    out = Phd2Received(session,
                       Answer(out.send[0], QJsonObject{{"calibrated", true},
                                                       {"xAngle", 10.0},
                                                       {"yAngle", 100.0},
                                                       {"declination", 57123.9}}),
                       2.1);
    EXPECT_TRUE(Contains(out.log, " : PHD2 does not multiply the RA shift rate by cos(DEC): its "
                                  "calibration has no declination"));
    ASSERT_EQ(Methods(out),
              (std::vector<std::string>{"set_lock_shift_params", "set_lock_shift_enabled"}));
    EXPECT_EQ(Parsed(out.send[0]).value("params")["rate"].toArray()[0].toDouble(), 30);
    out = Phd2Received(session, Answer(out.send[0], 0) + Answer(out.send[1], 0), 2.2);
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 guiding");
    // A new, flipped or reconfigured calibration is read at once: it is the dither map's
    // seed and decides the cos(DEC) case.
    for (const char* event : {"CalibrationComplete", "CalibrationDataFlipped"}) {
        out = Phd2Received(session, Event({{"Event", event}}), 3);
        EXPECT_EQ(Methods(out), (std::vector<std::string>{"get_calibration_data"}));
        Phd2Received(session, Answer(out.send[0], QJsonObject{{"calibrated", false}}), 3.1);
    }
    out = Phd2Received(session, Event({{"Event", "ConfigurationChange"}}), 4);
    EXPECT_EQ(Methods(out), (std::vector<std::string>{"get_pixel_scale", "get_calibration_data"}));
}

TEST(Phd2Session, FailuresAreLoggedAndTheWishesSurviveThem) {
    Phd2Session session;
    Phd2Output out = Phd2Disconnected(session, "Connection refused");
    ASSERT_EQ(out.log.size(), 1u);
    EXPECT_EQ(out.log[0], " : PHD2 not reachable at localhost:4400 (Connection refused) -- "
                          "trying again every 2 s");
    EXPECT_TRUE(Phd2Disconnected(session, "Connection refused").log.empty()); // retries
    EXPECT_EQ(Phd2StatusText(session), "PHD2 localhost:4400 \u2014 not reachable");

    out = Phd2SetShiftRates(session, {12, 7, 0}, 5);
    EXPECT_TRUE(out.send.empty());
    ASSERT_EQ(out.log.size(), 1u);
    EXPECT_EQ(out.log[0], " :    PHD2 request set_lock_shift_params "
                          R"({"axes":"RA/Dec","rate":[12,7],"units":"arcsec/hr"})"
                          " failed: PHD2 not reachable at localhost:4400");

    // PHD2 appears: the wish goes out after the calibration answer.
    out = Phd2Connected(session, 6);
    out = Phd2Received(session,
                       Answer(out.send[0], Equipment(false)) + Answer(out.send[1], 1.5) +
                           Answer(out.send[2], QJsonObject{{"calibrated", false}}),
                       6.1);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"set_lock_shift_params"}));

    // Unanswered requests fail after the bound, not before.
    EXPECT_TRUE(Phd2Expire(session, 6 + kPhd2RequestBoundSeconds - 0.01).log.empty());
    out = Phd2Expire(session, 6.2 + kPhd2RequestBoundSeconds);
    EXPECT_TRUE(Contains(out.log, " :    PHD2 request set_lock_shift_params "));
    EXPECT_TRUE(Contains(out.log, " failed: no answer within 3 s"));
    // A PHD2 that stays silent is said to be so once per outage.
    Phd2SetShiftRates(session, {12, 7, 0}, 6.5);
    EXPECT_TRUE(Phd2Expire(session, 7 + kPhd2RequestBoundSeconds).log.empty());
    EXPECT_NE(Phd2StatusText(session).find("failed: set_lock_shift_params: no answer"),
              std::string::npos);

    // Garbage is logged; the session stays connected.
    out = Phd2Received(session, "Welcome!\r\n", 7);
    EXPECT_TRUE(Contains(out.log, "not a message -- ignored: Welcome!"));
    EXPECT_EQ(session.link, Phd2Link::Connected);

    // A lost connection fails what is pending and says so once.
    Phd2SetShiftEnabled(session, true, 8);
    out = Phd2Disconnected(session, "The remote host closed the connection");
    EXPECT_TRUE(Contains(out.log, " :    PHD2 request set_lock_shift_enabled [true] failed: "
                                  "connection lost (The remote host closed the connection)"));
    EXPECT_TRUE(Contains(out.log, " : PHD2 connection to localhost:4400 lost"));
    out = Phd2Connected(session, 9);
    out = Phd2Received(session, Answer(out.send[2], QJsonObject{{"calibrated", false}}), 9.1);
    EXPECT_EQ(Methods(out),
              (std::vector<std::string>{"set_lock_shift_params", "set_lock_shift_enabled"}));
}

TEST(Phd2Session, FollowsPhd2sOwnRateItsShiftLimitAMissingScaleAndIsNotFlooded) {
    Phd2Session session;
    Phd2Output out = Phd2Connected(session, 0);
    const QJsonObject calibration{
        {"calibrated", true}, {"xAngle", 0.0}, {"yAngle", 90.0}, {"declination", 60.0}};
    Phd2Received(session,
                 Answer(out.send[0], Equipment(true)) + Answer(out.send[1], 2.0) +
                     Answer(out.send[2], calibration),
                 0.1);
    // The calibration has a declination: 30 "/h on the sky at DEC 60 is sent as 60.
    out = Phd2SetShiftRates(session, {30, 0, 60}, 1);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"set_lock_shift_params"}));
    out = Phd2Received(session, Answer(out.send[0], 0), 1.1);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"get_lock_shift_params"}));
    EXPECT_EQ(Parsed(out.send[0]).value("params"), (QJsonObject{{"axes", "X/Y"}}));
    // But PHD2 moves its lock by 30 px/h at 2 "/px: 60 "/h, no cos(DEC).  veldra follows
    // PHD2 and sends the sky rate; the same calibration read again keeps that.
    out = Phd2Received(session,
                       Answer(out.send[0], QJsonObject{{"enabled", false},
                                                       {"rate", QJsonArray{0.0, -30.0}},
                                                       {"units", "pixels/hr"},
                                                       {"axes", "X/Y"}}),
                       1.2);
    EXPECT_TRUE(Contains(out.log, " : PHD2's shift rate on the camera (60 \"/h) disagrees with the "
                                  "calibration -- following PHD2"));
    EXPECT_TRUE(Contains(out.log, " : PHD2 does not multiply the RA shift rate by cos(DEC): its "
                                  "shift rate on the camera showed it"));
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"set_lock_shift_params"}));
    EXPECT_EQ(Parsed(out.send[0]).value("params")["rate"].toArray()[0].toDouble(), 30);
    out = Phd2Received(session, Event({{"Event", "StartGuiding"}}), 2);
    out = Phd2Received(session, Answer(out.send[0], calibration), 2.1);
    EXPECT_FALSE(Contains(out.log, "cos(DEC)"));
    EXPECT_EQ(Parsed(out.send[0]).value("params")["rate"].toArray()[0].toDouble(), 30);

    // The shift limit: logged and shown; a dither's new lock position does not end it, a
    // new star's does.
    out = Phd2Received(session, Event({{"Event", "LockPositionShiftLimitReached"}}), 3);
    EXPECT_TRUE(Contains(out.log, " : PHD2 reached its lock shift limit and switched the shift "
                                  "off"));
    EXPECT_EQ(Phd2StatusText(session),
              "PHD2 localhost:4400 \u2014 guiding; shift limit reached, shift off");
    out = Phd2Received(session,
                       Event({{"Event", "LockPositionSet"}, {"X", 30}, {"Y", 40}}) +
                           Event({{"Event", "GuidingDithered"}, {"dx", 1}, {"dy", 0}}),
                       3.1);
    EXPECT_TRUE(out.send.empty());
    out = Phd2Received(session, Event({{"Event", "LockPositionSet"}, {"X", 300}, {"Y", 200}}), 3.2);
    EXPECT_TRUE(Contains(out.log, " : PHD2 set a new lock position -- applying the shift again"));
    EXPECT_EQ(Methods(out), (std::vector<std::string>{"set_lock_shift_params"}));
    EXPECT_FALSE(session.shiftLimitReached);
    // PHD2 follows its switch-off with a "ConfigurationChange" (multi-star mode restored):
    // re-reading the calibration must not switch the shift on again behind the limit.
    out = Phd2SetShiftEnabled(session, true, 3.3);
    Phd2Received(session, Answer(out.send[0], 0), 3.31);
    Phd2Received(session, Event({{"Event", "LockPositionShiftLimitReached"}}), 3.4);
    out = Phd2Received(session, Event({{"Event", "ConfigurationChange"}}), 3.5);
    ASSERT_EQ(out.send.size(), 2u);
    out = Phd2Received(session, Answer(out.send[0], 2.0) + Answer(out.send[1], calibration), 3.6);
    for (const std::string& method : Methods(out))
        EXPECT_NE(method, "set_lock_shift_enabled");
    for (const QByteArray& request : out.send)
        Phd2Received(session, Answer(request, 0), 3.65);
    out = Phd2Received(session, Event({{"Event", "LockPositionSet"}, {"X", 310}, {"Y", 210}}), 3.7);
    EXPECT_EQ(Methods(out),
              (std::vector<std::string>{"set_lock_shift_params", "set_lock_shift_enabled"}));
    for (const QByteArray& request : out.send)
        Phd2Received(session, Answer(request, 0), 3.75);

    // No pixel scale: PHD2 would read "/h as pixels/h, so nothing is sent, and the row says why.
    out = Phd2Received(session, Event({{"Event", "ConfigurationChange"}}), 4);
    ASSERT_EQ(Methods(out), (std::vector<std::string>{"get_pixel_scale", "get_calibration_data"}));
    out = Phd2Received(session,
                       Answer(out.send[0], QJsonValue()) + Answer(out.send[1], calibration), 4.1);
    EXPECT_TRUE(Contains(out.log, std::string(" : ") + kPhd2NoPixelScale + " -- no shift sent"));
    EXPECT_TRUE(out.send.empty());
    EXPECT_TRUE(Phd2SetShiftRates(session, {20, 0, 60}, 4.2).send.empty());
    EXPECT_EQ(Phd2StatusText(session),
              std::string("PHD2 localhost:4400 \u2014 guiding; ") + kPhd2NoPixelScale);

    // A flood of long alerts: one line, cut short; the repeats are counted with the next
    // writing a minute later.
    const QByteArray alert = Event({{"Event", "Alert"}, {"Msg", QString(5000, 'x')}});
    QByteArray flood;
    for (int i = 0; i < 1000; ++i)
        flood += alert;
    out = Phd2Received(session, flood, 5);
    ASSERT_EQ(out.log.size(), 1u);
    EXPECT_LE(out.log[0].size(), kPhd2LoggedTextChars + 3);
    out = Phd2Received(session, alert, 66);
    ASSERT_EQ(out.log.size(), 1u);
    EXPECT_NE(out.log[0].find("(and 999 times more in the minute before)"), std::string::npos);
}

TEST(GuiderChoice, ParsesTheCommandLineAndSettingsForms) {
    struct Case {
        const char* text;
        bool valid;
        GuiderChoice::Kind kind;
        const char* host;
        int port;
    };
    const GuiderChoice::Kind dbus = GuiderChoice::Kind::DBus;
    const GuiderChoice::Kind phd2 = GuiderChoice::Kind::Phd2;
    const Case cases[] = {
        {"dbus", true, dbus, "localhost", 4400},
        {"DBus", true, dbus, "localhost", 4400},
        {"phd2", true, phd2, "localhost", 4400},
        {"PHD2:imaging-pc", true, phd2, "imaging-pc", 4400},
        {"phd2:192.168.1.5:4401", true, phd2, "192.168.1.5", 4401},
        {"phd2:[::1]:4402", true, phd2, "::1", 4402},
        {"phd2:[::1]", true, phd2, "::1", 4400},
        {"phd2:host:0", false, dbus, "", 0},
        {"phd2:host:65536", false, dbus, "", 0},
        {"phd2:host:44x", false, dbus, "", 0},
        {"phd2:", false, dbus, "", 0},
        {"phd2x", false, dbus, "", 0},
        {"phd2:[::1", false, dbus, "", 0},
        {"metaguide", false, dbus, "", 0},
        {"", false, dbus, "", 0},
    };
    for (const Case& c : cases) {
        const std::optional<GuiderChoice> choice = ParseGuiderChoice(c.text);
        ASSERT_EQ(choice.has_value(), c.valid) << c.text;
        if (!choice)
            continue;
        EXPECT_EQ(choice->kind, c.kind) << c.text;
        EXPECT_EQ(choice->host, c.host) << c.text;
        EXPECT_EQ(choice->port, c.port) << c.text;
        // The full form reads back as the same choice.
        const std::optional<GuiderChoice> again = ParseGuiderChoice(GuiderChoiceText(*choice));
        ASSERT_TRUE(again) << GuiderChoiceText(*choice);
        EXPECT_EQ(again->host, choice->host);
        EXPECT_EQ(again->port, choice->port);
    }
    EXPECT_EQ(GuiderChoiceText(*ParseGuiderChoice("phd2")), "phd2:localhost:4400");
}
