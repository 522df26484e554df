// A settings file applied over the polling cycle, stepped by hand against a
// scripted meter: which failure is the write's, a range position the meter
// maps, and a meter that goes silent after a write was taken.
#include "ScriptedLink.h"

#include "core/SettingsApply.h"

#include <QTest>

namespace {

using Outcome = core::SettingRow::Outcome;

// The polling view that passes reads and failures on, as the window and the tool do.
class ApplyView final : public PollRecorder {
public:
    core::SettingsApply* apply = nullptr;
    void ShowParameters(const model::DeviceView& d, const model::MeterReading& r,
                        const model::ParameterBlock& b) override {
        PollRecorder::ShowParameters(d, r, b);
        apply->Read(r);
    }
    void TransactionFailed(const std::string& why) override {
        PollRecorder::TransactionFailed(why);
        apply->Failed(why);
    }
};

void put32(Script& s, size_t at, int32_t v) {
    for (size_t i = 0; i < 4; ++i) s.ending.reply[at + i] = static_cast<uint8_t>(uint32_t(v) >> (24 - 8 * i));
}

} // namespace

class TestSettingsApply : public QObject {
    Q_OBJECT

private slots:
    void failuresAndReadBack_data() {
        QTest::addColumn<QString>("script"); // per transaction: o(k), f(ail), r(efuse a write)
        QTest::addColumn<int>("rangeFile");  // thousandths in the file, position 3 of DN 100 (120000)
        QTest::addColumn<int>("cutoff");     // Outcome of the cut-off
        QTest::addColumn<int>("range");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QList<uint8_t>>("sent"); // the registers written
        // A read that fails after a good write says nothing against it.
        QTest::newRow("read fails after a write") << "oofoooo" << 120000 << int(Outcome::Written)
                                                  << int(Outcome::Written) << false << QList<uint8_t>{4, 6};
        QTest::newRow("write refused") << "orooo" << 120000 << int(Outcome::Refused)
                                       << int(Outcome::NotWritten) << true << QList<uint8_t>{4};
        // The file's value is no value of the list: the meter sets the position's own.
        QTest::newRow("range mapped") << "ooooo" << 120500 << int(Outcome::Written) << int(Outcome::Mapped)
                                      << false << QList<uint8_t>{4, 6};
        QTest::newRow("meter gone after a write") << "ooffff" << 120000 << int(Outcome::NotWritten)
                                                  << int(Outcome::NotWritten) << true << QList<uint8_t>{4};
    }
    void failuresAndReadBack() {
        QFETCH(QString, script);
        QFETCH(int, rangeFile);
        QFETCH(int, cutoff);
        QFETCH(int, range);
        QFETCH(bool, stopped);
        QFETCH(QList<uint8_t>, sent);
        core::SettingsFile file;
        file.DnIndex = 13;
        core::At(file.Settings, core::Setting::Cutoff) = 30;
        core::At(file.Settings, core::Setting::Range) = rangeFile;
        file.RangePosition = 3;

        ScriptedLink link;
        ApplyView view;
        view.period = {0, {}};
        core::LinkState state;
        core::PollCycle poll(state, link.factory(), view);
        core::SettingsApply apply(poll, file, false);
        view.apply = &apply;
        // The meter: cut-off 2,5 %, range 100 m3/h; a taken write changes it.
        uint8_t meterCutoff = 25;
        int32_t meterRange = 100000;
        QList<uint8_t> written;
        poll.ConnectButton();
        for (const QChar step : script) {
            if (apply.Finished()) break;
            Script& s = link.last();
            const bool write = s.request.Staged != modbus::TransactionRequest::Write::None;
            if (write) written << s.request.WriteRegister;
            if (step == 'f') {
                s.finish(modbus::Status::Timeout);
            } else if (write && step == 'r') {
                s.finish(modbus::Status::Exception, 3);
            } else if (write) {
                if (s.request.WriteRegister == 4) meterCutoff = s.request.ShortLow;
                if (s.request.WriteRegister == 6) meterRange = *core::RangeValueAt(13, s.request.LongValue);
                s.finish();
            } else {
                answerAsMeter(s);
                s.ending.reply[10] = meterCutoff;
                put32(s, 13, meterRange);
            }
            poll.Wake();
            view.now += 10000; // past any time-out or pause
            poll.Wake();
        }
        QVERIFY(apply.Finished());
        QCOMPARE(written, sent);
        QCOMPARE(int(apply.Plan().Rows[size_t(core::Setting::Cutoff)].State), cutoff);
        QCOMPARE(int(apply.Plan().Rows[size_t(core::Setting::Range)].State), range);
        QCOMPARE(!apply.Stopped().empty(), stopped);
        QCOMPARE(link.overlaps, 0);
    }
};

QTEST_GUILESS_MAIN(TestSettingsApply)
#include "tst_settingsapply.moc"
