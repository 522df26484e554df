// The port list on a machine's /sys and /dev of the test's own: which ttys
// count, what is said of each, the stable names, and the order.
#include "platform/SerialPorts.h"

#include "tests/platform/FakeSerialTree.h"

#include <QTemporaryDir>
#include <QTest>

class TestSerialPorts : public QObject {
    Q_OBJECT
private slots:
    void listsTheRealPorts() {
        QTemporaryDir dir;
        MakeFakeSerialTree(dir.path().toStdString());
        const struct {
            const char *name, *device, *driver, *maker, *product, *serial;
        } expected[] = {
            {"/dev/ttyACM0", "/dev/ttyACM0", "cdc_acm", "Arduino", "Uno", "7503"},
            {"/dev/ttyS0", "/dev/ttyS0", "serial8250", "", "", ""},
            {"/dev/ttyS2", "/dev/ttyS2", "serial8250", "", "", ""},
            {"/dev/ttyS10", "/dev/ttyS10", "serial8250", "", "", ""},
            {"/dev/ttyUSB0", "/dev/ttyUSB0", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3"},
            {"/dev/serial/by-id/usb-FTDI_X_A1B2C3-if00-port0", "/dev/ttyUSB0", "ftdi_sio", "FTDI",
             "FT232R USB UART", "A1B2C3"},
        };
        const std::vector<platform::SerialPortInfo> ports =
            platform::ListSerialPorts(dir.path().toStdString());
        QCOMPARE(ports.size(), std::size(expected));
        // A row as one text, so that a failure shows the whole of it.
        for (size_t i = 0; i < ports.size(); ++i) {
            const platform::SerialPortInfo& p = ports[i];
            const auto& e = expected[i];
            QCOMPARE(QString::fromStdString(p.Name + "|" + p.Device + "|" + p.Driver + "|" + p.Maker + "|" +
                                            p.Product + "|" + p.Serial),
                     QStringList({e.name, e.device, e.driver, e.maker, e.product, e.serial}).join('|'));
        }
        // A machine without sysfs or udev's links has no ports, and that is no error.
        QVERIFY(platform::ListSerialPorts(dir.filePath("nothing").toStdString()).empty());
    }
};

QTEST_GUILESS_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
