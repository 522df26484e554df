// Port naming, exclusivity (also against a non-root process, and a foreign
// TIOCEXCL when root), a killed holder that leaves the port free, and
// configuration.
#include "PtyPair.h"
#include "modbus/SerialPort.h"
#include "modbus/SerialPortPosix.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace modbus;

namespace {
// Runs fn in a child process, as user nobody when we are root; returns its exit code.
template <class Fn> int InChild(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        _exit(fn());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}
} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString oldCwd;
private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        chmod(dir.path().toLocal8Bit().constData(), 0755); // the non-root child must find the link
        oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(oldCwd); }

    void probes() {
        PtyPair pty;
        QVERIFY(pty.ok());
        QVERIFY(symlink(pty.slavePath.c_str(), "COM7") == 0);
        QVERIFY(symlink("/nonexistent/pts", "COM8") == 0);
        QFile plain(dir.filePath("COM9"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        using S = PortProbe::State;
        const struct {
            const char* name;
            S state;
            const char* says;
        } rows[] = {{"COM7", S::Usable, ": dostępny."},
                    {"COM8", S::Absent, "COM8 → ./COM8: brak takiego urządzenia."},
                    {"COM9", S::NotATerminal, "to nie jest port szeregowy"},
                    {"/dev/nonexistent-tty", S::Absent, "brak takiego urządzenia"},
                    {"ttyUSB0", S::BadName, "nie jest nazwą portu"}};
        for (const auto& r : rows) {
            const PortProbe p = ProbePort(r.name);
            QVERIFY2(p.state == r.state, r.name);
            QVERIFY2(QString::fromStdString(DescribeProbe(p)).contains(QString::fromUtf8(r.says)), r.name);
        }
        QCOMPARE(ProbePort("COM7").device, pty.slavePath);
        // Held by another program: busy, and the probe leaves its lock alone.
        const int other = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0 && ::flock(other, LOCK_EX | LOCK_NB) == 0);
        QVERIFY(ProbePort("COM7").state == S::Busy);
        const int again = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(::flock(again, LOCK_EX | LOCK_NB) != 0);
        ::close(again);
        ::close(other);
        // Without the rights to the device: named, with the group that gives them.
        ::chmod(pty.slavePath.c_str(), 0600);
        const int denied = InChild([] {
            const PortProbe p = ProbePort("COM7");
            return p.state == S::NoPermission && DescribeProbe(p).find("dialout") != std::string::npos ? 0
                                                                                                       : 1;
        });
        QCOMPARE(denied, 0);
        for (const char* link : {"COM7", "COM8"}) unlink(link);
        QFile::remove(dir.filePath("COM9"));
    }

    void portNames() {
        QCOMPARE(ResolvePortName("COM1"), std::string("/dev/ttyS0"));
        QCOMPARE(ResolvePortName("COM12"), std::string("/dev/ttyS11"));
        QCOMPARE(ResolvePortName("COM13"), std::string());
        QCOMPARE(ResolvePortName("COM0"), std::string());
        QCOMPARE(ResolvePortName("COM01"), std::string());
        QCOMPARE(ResolvePortName("COM1x"), std::string());
        QCOMPARE(ResolvePortName(""), std::string());
        QCOMPARE(ResolvePortName("/dev/ttyS0"), std::string());
        QVERIFY(symlink("/nonexistent/pts", "COM3") == 0);
        QCOMPARE(ResolvePortName("COM3"), std::string("./COM3")); // a dead link stays a dead port
        SerialPort port;
        QVERIFY(!port.Open("COM3"));
        QVERIFY(!port.IsOpen());
        unlink("COM3");
        // A plain file under a port name is no port.
        QFile file(dir.filePath("COM4"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!port.Open("COM4"));
        QFile::remove(dir.filePath("COM4"));
    }

    void exclusiveOpen() {
        PtyPair pty;
        QVERIFY(pty.ok());
        chmod(pty.slavePath.c_str(), 0666);
        QVERIFY(symlink(pty.slavePath.c_str(), "COM2") == 0);

        SerialPort first;
        QVERIFY(first.Open("COM2"));
        SerialPort second;
        QVERIFY(!second.Open("COM2")); // same process: flock
        QCOMPARE(InChild([] {
                     SerialPort other;
                     return other.Open("COM2") ? 1 : 0;
                 }),
                 0);
        first.Close();
        // The exclusive flag must not outlive our close while the simulator's
        // descriptor keeps the terminal alive: a non-root program opens it now.
        QCOMPARE(InChild([] {
                     SerialPort other;
                     return other.Open("COM2") ? 0 : 1;
                 }),
                 0);
        QVERIFY(second.Open("COM2"));
        second.Close();
        unlink("COM2");
    }

    void killedHolderLeavesPortFree() {
        PtyPair pty; // the master and a slave held, as the simulator holds them
        QVERIFY(pty.ok());
        chmod(pty.slavePath.c_str(), 0666);
        QVERIFY(symlink(pty.slavePath.c_str(), "COM10") == 0);
        // A flag left behind stays on every trial; several catch a kill that lands anywhere in the hold.
        for (int trial = 0; trial < 6; ++trial) {
            int ready[2];
            QCOMPARE(pipe(ready), 0);
            const pid_t holder = fork();
            if (holder == 0) {
                SerialPort port;
                const char opened = port.Open("COM10") ? 'y' : 'n';
                (void)!write(ready[1], &opened, 1);
                for (;;) pause(); // killed while it holds the port: no Close runs
            }
            ::close(ready[1]);
            char opened = 0;
            QCOMPARE(read(ready[0], &opened, 1), ssize_t(1));
            ::close(ready[0]);
            QCOMPARE(opened, 'y');
            QCOMPARE(kill(holder, SIGKILL), 0);
            int status = 0;
            QCOMPARE(waitpid(holder, &status, 0), holder);
            QVERIFY(WIFSIGNALED(status));
            QVERIFY2(ProbePort("COM10").state == PortProbe::State::Usable, "after the kill, for us");
            QCOMPARE(InChild([] {
                         SerialPort other;
                         return other.Open("COM10") ? 0 : 1;
                     }),
                     0); // and for a non-root user, whom a stale TIOCEXCL would turn away
        }
        unlink("COM10");
    }

    void foreignExclusiveLeftAlone() {
        if (VQT_EMULATED) QSKIP("qemu-user does not carry TIOCGEXCL through");
        PtyPair pty;
        QVERIFY(pty.ok());
        QVERIFY(symlink(pty.slavePath.c_str(), "COM6") == 0);
        const int other = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY); // another program
        QVERIFY(other >= 0);
        QCOMPARE(ioctl(other, TIOCEXCL), 0);
        SerialPort port;
        QVERIFY(!port.Open("COM6")); // root gets past TIOCEXCL, but must keep out
        int held = 0;
        QCOMPARE(ioctl(other, TIOCGEXCL, &held), 0);
        QCOMPARE(held, 1);
        QCOMPARE(ioctl(other, TIOCNXCL), 0); // it was the flag that kept us out
        QVERIFY(port.Open("COM6"));
        port.Close();
        ::close(other);
        unlink("COM6");
    }

    void lineSettings() {
        termios t{};
        t.c_iflag = IXON | IXOFF | INPCK | ICRNL;
        t.c_lflag = ICANON | ECHO;
        t.c_cflag = CRTSCTS | CS7 | PARODD;
        QVERIFY(MakeLineSettings(t, 115200, 8, kEvenParity, kOneStopBit));
        QCOMPARE(cfgetispeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY((t.c_cflag & PARENB) && !(t.c_cflag & PARODD) && !(t.c_cflag & CSTOPB));
        QVERIFY(!(t.c_cflag & CRTSCTS) && (t.c_cflag & CLOCAL) && (t.c_cflag & CREAD));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL)));
        QVERIFY(!(t.c_lflag & (ICANON | ECHO)));
        // From a port an earlier program left in mark parity with two stop bits.
        const struct {
            uint8_t parity, stopBits;
            tcflag_t flags;
        } framings[] = {{kNoParity, kOneStopBit, 0},
                        {kOddParity, kTwoStopBits, PARENB | PARODD | CSTOPB},
                        {kEvenParity, kOneStopBit, PARENB}};
        for (const auto& f : framings) {
            t.c_cflag = CMSPAR | PARENB | PARODD | CSTOPB | CS8;
            QVERIFY(MakeLineSettings(t, 2400, 8, f.parity, f.stopBits));
            QCOMPARE(t.c_cflag & (CMSPAR | PARENB | PARODD | CSTOPB), f.flags);
        }
        for (uint32_t baud : {4800u, 9600u, 19200u, 38400u, 57600u})
            QVERIFY(MakeLineSettings(t, baud, 8, 0, 0));
        QVERIFY(!MakeLineSettings(t, 0, 8, 0, 0));
        QVERIFY(!MakeLineSettings(t, 230400, 8, 0, 0));
    }

    void configureAndExchange() {
        PtyPair pty;
        QVERIFY(pty.ok());
        QVERIFY(symlink(pty.slavePath.c_str(), "COM5") == 0);
        SerialPort port;
        QVERIFY(port.Open("COM5"));
        QVERIFY(!port.Configure(12345, 8, kNoParity, kOneStopBit)); // unsupported speed refused
        QVERIFY(port.Configure(19200, 8, kEvenParity, kTwoStopBits));
        termios t{};
        QCOMPARE(tcgetattr(static_cast<int>(port.Handle()), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(t.c_cflag & CSTOPB); // a pseudo-terminal drops parity itself, so that is checked below
        QVERIFY(t.c_cflag & CLOCAL);
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF | INPCK)));
        QVERIFY(!(t.c_lflag & (ICANON | ECHO)));
        QVERIFY(port.Configure(9600, 8, kOddParity, kOneStopBit));
        QCOMPARE(tcgetattr(static_cast<int>(port.Handle()), &t), 0);
        QVERIFY(!(t.c_cflag & CSTOPB));

        // Stale bytes from before the exchange are dropped by Configure.
        const uint8_t stale[3] = {1, 2, 3};
        QCOMPARE(write(pty.master, stale, 3), ssize_t(3));
        QTRY_COMPARE(port.InputCount(), size_t{3});
        QVERIFY(port.Configure(9600, 8, kNoParity, kOneStopBit));
        QCOMPARE(port.InputCount(), size_t{0});

        const uint8_t request[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        QCOMPARE(port.Write(request, 4), size_t{4});
        uint8_t got[8] = {};
        fcntl(pty.master, F_SETFL, O_NONBLOCK);
        ssize_t n = -1;
        // The read consumes, so no QTRY_ macro (they evaluate once more at the end).
        for (int i = 0; i < 500 && n <= 0; ++i) {
            n = read(pty.master, got, sizeof got);
            if (n <= 0) QTest::qWait(10);
        }
        QCOMPARE(n, ssize_t(4));
        QCOMPARE(got[3], uint8_t{0xEF});
        uint8_t buf[8] = {};
        QCOMPARE(port.Read(buf, sizeof buf), size_t{0}); // nothing waiting: returns at once
        port.Close();
        QCOMPARE(port.InputCount(), size_t{0});
        QCOMPARE(port.Write(request, 4), size_t{0});
        unlink("COM5");
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
