// The published texts: keys and topics, a reading in each flow unit, Home
// Assistant's discovery checked against the reading it reads, InfluxDB lines
// with their escapes, and an archive record.
#include "publish/Payloads.h"

#include <QTest>
#include <nlohmann/json.hpp>

#include <cmath>
#include <regex>
#include <set>

using namespace publish;
using nlohmann::json;

// JSON's own equality (10 is 10.0), with both sides shown on failure.
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
    r.RangeLitresPerHour = 10000;
    r.Alarm1LitresPerHour = 1500;
    r.CutoffTenthsOfPercent = 15;
    return model::InUnits(r, flowUnit);
}
QString Q(const std::string& s) {
    return QString::fromStdString(s);
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
            int address;
        } rows[] = {{"/dev/ttyUSB0", "vqt540", "ttyusb0-7", "vqt540_ttyusb0-7", 7},
                    {"COM3", "vqt540", "com3-1", "vqt540_com3-1", 1},
                    {R"(\\.\COM10)", "site/Hall 2", "com10-247", "site_Hall_2_com10-247", 247},
                    {"/dev/serial/by-id/usb-FTDI_Ser:ial A+#", "p", "usb-ftdi_ser_ial_a__-2",
                     "p_usb-ftdi_ser_ial_a__-2", 2},
                    {"", "p", "port-3", "p_port-3", 3}};
        for (const auto& r : rows) {
            const MeterId meter{r.port, r.address};
            QCOMPARE(Q(MeterKey(meter)), r.key);
            const Topics t = TopicsFor(r.prefix, meter);
            const std::string base = std::string(r.prefix) + "/" + r.key + "/";
            QCOMPARE(t.Reading, base + "reading");
            QCOMPARE(t.Archive, base + "archive");
            QCOMPARE(t.Availability, base + "availability");
            QCOMPARE(t.ToolAvailability, std::string(r.prefix) + "/status");
            QCOMPARE(Q(t.DeviceId), r.deviceId);
            QCOMPARE(t.Discovery, "homeassistant/device/" + t.DeviceId + "/config");
        }
    }

    void isoTimes() {
        const std::pair<int64_t, const char*> rows[] = {
            {0, "1970-01-01T00:00:00.000Z"},
            {kMs, "2024-05-01T12:00:00.123Z"},
            {-1, "1969-12-31T23:59:59.999Z"},
            {951782400000 + 86399999, "2000-02-29T23:59:59.999Z"}};
        for (const auto& [ms, text] : rows) QCOMPARE(Q(IsoUtc(ms)), text);
    }

    // The meter's resolution in each flow unit; thresholds follow the unit.
    void readingInEachUnit() {
        const struct {
            uint8_t flowCode, totaliserCode;
            double flow, alarm1;
            const char *flowUnit, *totaliserUnit;
        } rows[] = {{0, 0, 1234.5, 1500, "l/h", "m3"},
                    {1, 1, 1.235, 1.5, "m3/h", "l"},
                    {2, 0, 20.6, 25, "l/min", "m3"}};
        for (const auto& r : rows) {
            const json j = json::parse(ReadingJson(kMeter, kMs, Reading(r.flowCode, r.totaliserCode)));
            JCOMPARE(j["meter"], "ttyusb0-7");
            JCOMPARE(j["port"], "/dev/ttyUSB0");
            JCOMPARE(j["address"], 7);
            JCOMPARE(j["time"], "2024-05-01T12:00:00.123Z");
            JCOMPARE(j["timeMs"], kMs);
            JCOMPARE(j["flow"], json({{"value", r.flow}, {"unit", r.flowUnit}}));
            JCOMPARE(j["forwardTotaliser"], json({{"value", 1234.5}, {"unit", r.totaliserUnit}}));
            JCOMPARE(j["reverseTotaliser"], json({{"value", 2.5}, {"unit", r.totaliserUnit}}));
            JCOMPARE(j["range"], json({{"value", 10}, {"unit", "m3/h"}}));
            JCOMPARE(j["alarm1Threshold"], json({{"value", r.alarm1}, {"unit", r.flowUnit}}));
            JCOMPARE(j["cutoff"], json({{"value", 1.5}, {"unit", "%"}}));
            JCOMPARE(j["alarms"], json::array());
        }
    }

    // Each alarm bit sets exactly its own flag and names itself.
    void alarmFlags() {
        for (unsigned bit = 2; bit <= 7; ++bit) {
            const uint8_t bits = uint8_t(1u << bit);
            const json j = json::parse(ReadingJson(kMeter, kMs, Reading(1, 0, bits)));
            JCOMPARE(j["alarms"], json(model::AlarmLines(bits)));
            QCOMPARE(j["alarm"].size(), std::size(kAlarmKeys));
            for (const auto& [key, on] : j["alarm"].items())
                QVERIFY2(on == (key == kAlarmKeys[7 - bit]), key.c_str());
        }
    }

    // Every template reads a field that the reading has, in the units the
    // meter is set to.
    void discoveryReadsTheReading() {
        const struct {
            uint8_t flowCode, totaliserCode;
            const char *flowUnit, *volumeUnit;
            int decimals;
        } rows[] = {{0, 0, "L/h", "m³", 1}, {1, 1, "m³/h", "L", 3}, {2, 0, "L/min", "m³", 1}};
        const Topics t = TopicsFor("vqt540", kMeter);
        for (const auto& r : rows) {
            const model::ReadingInUnits u = Reading(r.flowCode, r.totaliserCode, 0x80);
            const json reading = json::parse(ReadingJson(kMeter, kMs, u));
            const json d = json::parse(DiscoveryJson(kMeter, t, u.FlowUnit, u.TotaliserUnit));
            JCOMPARE(d["dev"]["ids"], json::array({t.DeviceId}));
            JCOMPARE(d["o"], json({{"name", "vqt540"}, {"sw", VQT_VERSION}}));
            JCOMPARE(d["state_topic"], t.Reading);
            JCOMPARE(d["availability_mode"], "all");
            JCOMPARE(d["availability"][0]["topic"], t.Availability);
            JCOMPARE(d["availability"][1]["topic"], t.ToolAvailability);
            const json& c = d["cmps"];
            JCOMPARE(c["flow"]["unit_of_measurement"], r.flowUnit);
            JCOMPARE(c["flow"]["device_class"], "volume_flow_rate");
            JCOMPARE(c["flow"]["suggested_display_precision"], r.decimals);
            for (const char* id : {"forward", "reverse"}) {
                JCOMPARE(c[id]["unit_of_measurement"], r.volumeUnit);
                JCOMPARE(c[id]["state_class"], "total_increasing");
            }
            QCOMPARE(c.size(), 3 + std::size(kAlarmKeys));
            std::set<std::string> ids;
            for (const auto& [name, component] : c.items()) {
                ids.insert(component["unique_id"].get<std::string>());
                const std::string tpl = component["value_template"];
                std::smatch path;
                QVERIFY2(std::regex_search(tpl, path, std::regex(R"(value_json\.([\w.]+))")), tpl.c_str());
                const std::string pointer = "/" + std::regex_replace(path[1].str(), std::regex(R"(\.)"), "/");
                QVERIFY2(reading.contains(json::json_pointer(pointer)), pointer.c_str());
                JCOMPARE(component["p"], component["device_class"] == "problem" ? "binary_sensor" : "sensor");
            }
            QCOMPARE(ids.size(), c.size());
        }
    }

    void influxLines() {
        const std::string tail = " 1714564800123000000";
        model::ReadingInUnits nan = Reading(1);
        nan.Flow = std::nan("");
        const struct {
            const char* name;
            MeterId meter;
            model::ReadingInUnits reading;
            std::string line;
        } rows[] = {
            {"plain", kMeter, Reading(1),
             "vqt540,address=7,flow_unit=m3/h,port=/dev/ttyUSB0,totaliser_unit=m3 "
             "flow=1.235,forward=1234.5,reverse=2.5,alarms=0i,alarm_names=\"\"" +
                 tail},
            {"escapes",
             {"COM 3,a=b", 1},
             Reading(0, 1, 0xA0),
             "vqt540,address=1,flow_unit=l/h,port=COM\\ 3\\,a\\=b,totaliser_unit=l "
             "flow=1234.5,forward=1234.5,reverse=2.5,alarms=2i,"
             "alarm_names=\"Przepływ w tył, Alarm \\\"pustej rury\\\"\"" +
                 tail},
            {"not finite, no port",
             {"", 2},
             nan,
             "vqt540,address=2,flow_unit=m3/h,totaliser_unit=m3 "
             "forward=1234.5,reverse=2.5,alarms=0i,alarm_names=\"\"" +
                 tail},
        };
        for (const auto& r : rows) QCOMPARE(Q(InfluxLine(r.meter, kMs * 1000000, r.reading)), Q(r.line));
    }

    void archiveRecord() {
        const ArchiveFields record{"2024-05-01 12:15:00",     1.2345, "m3/h", 1234.5, 0.5, "l",
                                   "Zanik napięcia zasilania"};
        const json j = json::parse(ArchiveRecordJson(kMeter, record));
        JCOMPARE(j["meter"], "ttyusb0-7");
        JCOMPARE(j["recordTime"], "2024-05-01 12:15:00");
        JCOMPARE(j["flow"], json({{"value", 1.235}, {"unit", "m3/h"}}));
        JCOMPARE(j["forwardTotaliser"], json({{"value", 1234.5}, {"unit", "l"}}));
        JCOMPARE(j["reverseTotaliser"], json({{"value", 0.5}, {"unit", "l"}}));
        JCOMPARE(j["events"], "Zanik napięcia zasilania");
    }
};

QTEST_GUILESS_MAIN(TestPayloads)
#include "tst_payloads.moc"
