// The published texts: keys and topics, a reading in each flow unit with its
// alarm flags, Home Assistant's discovery checked against the reading it
// reads and the classes and units Home Assistant lists, InfluxDB lines with
// their escapes, an archive record.
#include "publish/Payloads.h"

#include <QTest>
#include <nlohmann/json.hpp>

#include <cmath>
#include <regex>
#include <set>

using namespace publish;
using nlohmann::json;

// JSON's own equality (10 is 10.0), both sides shown on failure.
#define JCOMPARE(actual, expected)                                                                           \
    do {                                                                                                     \
        const json a_ = (actual), e_ = (expected);                                                           \
        QVERIFY2(a_ == e_, (a_.dump() + " is not " + e_.dump()).c_str());                                    \
    } while (false)

namespace {
model::ReadingInUnits Reading(uint8_t flowUnit, uint8_t totaliserUnit = 0, uint8_t alarmBits = 0) {
    model::MeterReading r;
    r.FlowCubicMetresPerHour = 1.2345f;
    r.ForwardTenths = 12345;
    r.ReverseTenths = 25;
    r.TotaliserUnitCode = totaliserUnit;
    r.AlarmBits = alarmBits;
    r.Alarm1LitresPerHour = 1500;
    return model::InUnits(r, flowUnit);
}
const MeterId kMeter{"/dev/ttyUSB0", 7};
constexpr int64_t kMs = 1714564800123; // 2024-05-01T12:00:00.123Z
} // namespace

class TestPayloads : public QObject {
    Q_OBJECT
private slots:
    void keysAndTopics() {
        const struct {
            const char *port, *prefix, *key, *deviceId;
        } rows[] = {{"/dev/ttyUSB0", "vqt540", "ttyusb0-7", "vqt540_ttyusb0-7"},
                    {R"(\\.\COM10)", "site/Hall 2", "com10-7", "site_Hall_2_com10-7"},
                    {"/dev/serial/by-id/usb-FTDI_Ser:ial A+#", "p", "usb-ftdi_ser_ial_a__-7",
                     "p_usb-ftdi_ser_ial_a__-7"},
                    {"", "p", "port-7", "p_port-7"}};
        for (const auto& r : rows) {
            const Topics t = TopicsFor(r.prefix, {r.port, 7});
            QCOMPARE(MeterKey({r.port, 7}), std::string(r.key));
            QCOMPARE(t.DeviceId, std::string(r.deviceId));
            QCOMPARE(t.Reading, std::string(r.prefix) + "/" + r.key + "/reading");
            QCOMPARE(t.ToolAvailability, std::string(r.prefix) + "/status");
            QCOMPARE(t.Discovery, "homeassistant/device/" + t.DeviceId + "/config");
        }
    }

    // A reading in each unit with the meter's resolution, and the discovery
    // in the units the meter is set to, every template reading a field that
    // the reading has.
    void readingAndDiscoveryInEachUnit() {
        const struct {
            uint8_t flowCode, totaliserCode;
            double flow, alarm1;
            const char *flowUnit, *totaliserUnit, *haFlowUnit, *haVolumeUnit;
        } rows[] = {{0, 0, 1234.5, 1500, "l/h", "m3", "L/h", "m³"},
                    {1, 1, 1.235, 1.5, "m3/h", "l", "m³/h", "L"},
                    {2, 0, 20.6, 25, "l/min", "m3", "L/min", "m³"}};
        const Topics t = TopicsFor("vqt540", kMeter);
        for (const auto& r : rows) {
            const model::ReadingInUnits u = Reading(r.flowCode, r.totaliserCode);
            const json j = json::parse(ReadingJson(kMeter, kMs, u));
            JCOMPARE(j["meter"], "ttyusb0-7");
            JCOMPARE(j["time"], "2024-05-01T12:00:00.123Z");
            JCOMPARE(j["timeMs"], kMs);
            JCOMPARE(j["flow"], json({{"value", r.flow}, {"unit", r.flowUnit}}));
            JCOMPARE(j["forwardTotaliser"], json({{"value", 1234.5}, {"unit", r.totaliserUnit}}));
            JCOMPARE(j["reverseTotaliser"], json({{"value", 2.5}, {"unit", r.totaliserUnit}}));
            JCOMPARE(j["alarm1Threshold"], json({{"value", r.alarm1}, {"unit", r.flowUnit}}));
            const json d = json::parse(DiscoveryJson(kMeter, t, u.FlowUnit, u.TotaliserUnit));
            JCOMPARE(d["o"], json({{"name", "vqt540"}, {"sw", VQT_VERSION}}));
            JCOMPARE(d["state_topic"], t.Reading);
            JCOMPARE(d["availability"][0]["topic"], t.Availability);
            JCOMPARE(d["availability"][1]["topic"], t.ToolAvailability);
            JCOMPARE(d["availability_mode"], "all");
            const json& c = d["cmps"];
            // The Energy dashboard's water section takes the forward totaliser
            // only: class water, a total, m³ or L with the superscript.
            JCOMPARE(c["flow"]["device_class"], "volume_flow_rate");
            JCOMPARE(c["flow"]["state_class"], "measurement");
            JCOMPARE(c["flow"]["unit_of_measurement"], r.haFlowUnit);
            for (const auto& [id, deviceClass] :
                 {std::pair{"forward", "water"}, std::pair{"reverse", "volume"}}) {
                JCOMPARE(c[id]["device_class"], deviceClass);
                JCOMPARE(c[id]["state_class"], "total_increasing");
                JCOMPARE(c[id]["unit_of_measurement"], r.haVolumeUnit);
            }
            QCOMPARE(c.size(), 3 + std::size(kAlarmKeys));
            std::set<std::string> ids;
            for (const auto& [name, component] : c.items()) {
                ids.insert(component["unique_id"].get<std::string>());
                const std::string tpl = component["value_template"];
                std::smatch path;
                QVERIFY2(std::regex_search(tpl, path, std::regex(R"(value_json\.([\w.]+))")), tpl.c_str());
                const std::string pointer = "/" + std::regex_replace(path[1].str(), std::regex(R"(\.)"), "/");
                QVERIFY2(j.contains(json::json_pointer(pointer)), pointer.c_str());
            }
            QCOMPARE(ids.size(), c.size());
        }
        // A unit Home Assistant does not list for the class: no class rather than a wrong unit.
        const json odd = json::parse(DiscoveryJson(kMeter, t, "m3/d", "hl"))["cmps"];
        for (const char* id : {"flow", "forward", "reverse"}) QVERIFY2(!odd[id].contains("device_class"), id);
        QCOMPARE(IsoUtc(-1), std::string("1969-12-31T23:59:59.999Z"));
    }

    // Each alarm bit sets exactly its own flag and names itself.
    void alarmFlags() {
        for (unsigned bit = 2; bit <= 7; ++bit) {
            const json j = json::parse(ReadingJson(kMeter, kMs, Reading(1, 0, uint8_t(1u << bit))));
            JCOMPARE(j["alarms"], json(model::AlarmLines(uint8_t(1u << bit))));
            QCOMPARE(j["alarm"].size(), std::size(kAlarmKeys));
            for (const auto& [key, on] : j["alarm"].items())
                QVERIFY2(on == (key == kAlarmKeys[7 - bit]), key.c_str());
        }
    }

    void influxLines() {
        model::ReadingInUnits nan = Reading(1);
        nan.Flow = std::nan("");
        const struct {
            MeterId meter;
            model::ReadingInUnits reading;
            std::string line;
        } rows[] = {
            {kMeter, Reading(1),
             "vqt540,address=7,flow_unit=m3/h,port=/dev/ttyUSB0,totaliser_unit=m3 "
             "flow=1.235,forward=1234.5,reverse=2.5,alarms=0i,alarm_names=\"\""},
            {{"COM 3,a=b", 1},
             Reading(0, 1, 0xA0),
             "vqt540,address=1,flow_unit=l/h,port=COM\\ 3\\,a\\=b,totaliser_unit=l "
             "flow=1234.5,forward=1234.5,"
             "reverse=2.5,alarms=2i,alarm_names=\"Przepływ w tył, Alarm \\\"pustej rury\\\"\""},
            {{"", 2},
             nan, // no empty tag, no flow that is not a number
             "vqt540,address=2,flow_unit=m3/h,totaliser_unit=m3 "
             "forward=1234.5,reverse=2.5,alarms=0i,alarm_names=\"\""},
        };
        for (const auto& r : rows)
            QCOMPARE(InfluxLine(r.meter, kMs * 1000000, r.reading), r.line + " 1714564800123000000");
    }

    void archiveRecord() {
        const json j = json::parse(ArchiveRecordJson(
            kMeter, {"2024-05-01 12:15:00", 1.2345, "m3/h", 1234.5, 0.5, "l", "Pusta rura"}));
        JCOMPARE(j, json::parse(R"({"meter": "ttyusb0-7", "port": "/dev/ttyUSB0", "address": 7,
            "recordTime": "2024-05-01 12:15:00", "flow": {"value": 1.235, "unit": "m3/h"},
            "forwardTotaliser": {"value": 1234.5, "unit": "l"}, "reverseTotaliser": {"value": 0.5, "unit": "l"},
            "events": "Pusta rura"})"));
    }
};

QTEST_GUILESS_MAIN(TestPayloads)
#include "tst_payloads.moc"
