// The tool against a meter that misbehaves and under faults of the system:
// nothing of another device's ends up in an output, no file or port is left
// that makes the next run fail, and the words say why.
#include "CliRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::unique_ptr<vqtsim::Simulator> StartWith(const QString& dir, int records,
                                             const vqtsim::ArchiveDamage& damage = {}, uint8_t address = 1) {
    vqtsim::Options o = testsim::FastMeter(dir);
    o.address = address;
    o.archiveRecords = records;
    o.archiveNow = kNow;
    o.archiveDamage = damage;
    return testsim::StartSimulator(o);
}

const QStringList kArchive{
    "archive", "--period", "0", "--timeout", "1000", "--retries", "3", "--decimal-separator", ","};
} // namespace

class TestCliTrust : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const char* name) const { return dir->filePath(QLatin1String(name)); }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    // A reply that is not this meter's is a failed read: nothing of it is
    // shown or written, and the words name what was wrong.
    void hostileMeter_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("readSays");
        QTest::addColumn<QString>("archiveSays");
        using F = vqtsim::Fault;
        QTest::newRow("another address")
            << int(F::ForeignAddress) << 2 << "Odpowiedź innego urządzenia (adres 2)"
            << "3 × reply from another address (2)";
        QTest::newRow("another function")
            << int(F::ForeignFunction) << 4 << "Odpowiedź na inną funkcję Modbus (0x04)"
            << "3 × reply to another function";
        QTest::newRow("byte count")
            << int(F::ByteCount) << 52 << "Błędna liczba bajtów danych w odpowiedzi (52 zamiast 54)"
            << "3 × time-out"; // the archive read keeps its proper answer: silence below
        // The noise ends the frame where its CRC should be.
        QTest::newRow("trailing noise")
            << int(F::TrailingNoise) << 3 << "Błąd sumy kontrolnej w odpowiedzi urządzenia"
            << "3 × bad CRC";
    }
    void hostileMeter() {
        QFETCH(int, fault);
        QFETCH(int, code);
        QFETCH(QString, readSays);
        QFETCH(QString, archiveSays);
        auto sim = StartWith(dir->path(), 30);
        sim->SetFault(vqtsim::Fault(fault), code);
        // Time-outs long enough for a loaded machine: every answer here comes.
        const ToolRun read = RunTool(dir->path(), {"read", "--json", "--timeout", "2000"});
        QCOMPARE(read.code, 3);
        QVERIFY(read.out.isEmpty());
        QVERIFY2(QString::fromUtf8(read.err).contains(readSays), read.err.constData());
        // The byte count is a register read's: the archive's answers stay proper there.
        if (vqtsim::Fault(fault) == vqtsim::Fault::ByteCount) sim->SetFault(vqtsim::Fault::Silence);
        const ToolRun archive = RunTool(dir->path(), kArchive + QStringList{"--new", path("x.csv")});
        QCOMPARE(archive.code, 3);
        QVERIFY2(QString::fromUtf8(archive.err).contains(archiveSays), archive.err.constData());
        QVERIFY(!QFile::exists(path("x.csv")));
    }

    // Records with a moment that cannot be are left out and counted; an
    // erased record that an earlier download ended on does not stop the
    // next update from taking the 20 newer ones.
    void impossibleDates() {
        vqtsim::ArchiveDamage damage;
        damage.badDates = {{3, vqtsim::DateFault::Month13},
                           {4, vqtsim::DateFault::Day32},
                           {5, vqtsim::DateFault::Time2561},
                           {6, vqtsim::DateFault::Year999}};
        damage.erasedBefore = 20;
        auto sim = StartWith(dir->path(), 100, damage);
        const ToolRun fresh = RunTool(dir->path(), kArchive + QStringList{"--new", path("a.csv")});
        QVERIFY2(fresh.code == 0, fresh.err.constData());
        QVERIFY2(fresh.err.contains("warning: 5 records with a date or time that cannot be"),
                 fresh.err.constData());
        const QByteArray written = ReadFile(path("a.csv"));
        QCOMPARE(written.count("\r\n"), 1 + 95);
        QVERIFY(!written.contains("65535") && !written.contains(";999-") && !written.contains("-13-"));

        // The file an earlier download left: the 79 older records and the erased one last.
        QByteArray old = written.left(written.indexOf("\r\n") + 2);
        const QList<QByteArray> lines = written.split('\n');
        int number = 0;
        for (int i = 1; i <= 75; ++i)
            old += QByteArray::number(number++) + lines[i].mid(lines[i].indexOf(';')) + "\n";
        old += QByteArray::number(number++) + ";65535-255-255;255:255:255;NAN;-1,0 [l];-1,0 [l];\r\n";
        QFile f(path("b.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        f.close();
        const ToolRun update = RunTool(dir->path(), kArchive + QStringList{"--update", path("b.csv")});
        QVERIFY2(update.code == 0, update.err.constData());
        const QByteArray updated = ReadFile(path("b.csv"));
        QVERIFY(updated.startsWith(old));
        QCOMPARE(updated.count("\r\n") - old.count("\r\n"), 95 - 75); // the newer ones, numbered on
        QVERIFY(updated.endsWith(lines[95].mid(lines[95].indexOf(';')) + "\n"));
        QVERIFY(updated.contains("\r\n76;"));
    }

    // A new export killed half way leaves no file: the next --new runs.
    void killedNewLeavesNoFile() {
        auto sim = StartWith(dir->path(), 3000);
        sim->SetFault(vqtsim::Fault::Late, 0, 5);
        QProcess tool;
        StartTool(tool, dir->path(), kArchive + QStringList{"--new", path("k.csv")});
        QTRY_VERIFY_WITH_TIMEOUT(sim->RequestsSeen() >= 20, kLong);
        ::kill(static_cast<pid_t>(tool.processId()), SIGKILL);
        QVERIFY(tool.waitForFinished(kLong));
        QVERIFY(!QFile::exists(path("k.csv")));
        sim->SetFault(vqtsim::Fault::None);
        const ToolRun again = RunTool(dir->path(), kArchive + QStringList{"--new", path("k.csv")});
        QVERIFY2(again.code == 0, again.err.constData());
        QCOMPARE(ReadFile(path("k.csv")), ExpectedExport(*sim, ","));
        // And a killed tool leaves the port usable: the next run reads.
        QProcess watch;
        StartTool(watch, dir->path(), {"watch", "--interval", "0"});
        const uint64_t seen = sim->RequestsSeen();
        QTRY_VERIFY_WITH_TIMEOUT(sim->RequestsSeen() > seen + 5, kLong);
        ::kill(static_cast<pid_t>(watch.processId()), SIGKILL);
        QVERIFY(watch.waitForFinished(kLong));
        QCOMPARE(RunTool(dir->path(), {"read"}).code, 0);
    }

    // An update through a link lands on the file the link names.
    void updateThroughALink() {
        auto sim = StartWith(dir->path(), 40);
        QVERIFY(RunTool(dir->path(), kArchive + QStringList{"--new", path("shared.csv")}).code == 0);
        QByteArray old = ReadFile(path("shared.csv"));
        old.truncate(old.lastIndexOf("\r\n", old.size() - 3) + 2); // the newest record not yet there
        QFile f(path("shared.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        f.close();
        QVERIFY(QFile::link(path("shared.csv"), path("link.csv")));
        const ToolRun update = RunTool(dir->path(), kArchive + QStringList{"--update", path("link.csv")});
        QVERIFY2(update.code == 0, update.err.constData());
        QVERIFY(QFileInfo(path("link.csv")).isSymLink());
        QCOMPARE(ReadFile(path("shared.csv")), ExpectedExport(*sim, ","));
    }

    // A full disk: --new writes no file at all, watch --csv keeps whole lines.
    void fullDisk() {
        if (::geteuid() != 0) QSKIP("needs root to mount a small tmpfs");
        const QByteArray small = path("small").toLocal8Bit();
        QVERIFY(::mkdir(small.constData(), 0755) == 0);
        if (::mount("tmpfs", small.constData(), "tmpfs", 0, "size=24k") != 0)
            QSKIP("no tmpfs can be mounted here");
        const auto unmount = qScopeGuard([&] { ::umount(small.constData()); });
        auto sim = StartWith(dir->path(), 3000);
        const QString target = QString::fromLocal8Bit(small) + "/new.csv";
        const ToolRun full = RunTool(dir->path(), kArchive + QStringList{"--new", target});
        QCOMPARE(full.code, 4);
        QVERIFY(QDir(QString::fromLocal8Bit(small)).entryList(QDir::Files | QDir::Hidden).isEmpty());

        const QString table = QString::fromLocal8Bit(small) + "/watch.csv";
        const ToolRun watch = RunTool(dir->path(), {"watch", "--interval", "0", "--csv", table});
        QCOMPARE(watch.code, 4);
        QVERIFY2(watch.err.contains("cut back to its last complete line"), watch.err.constData());
        const QByteArray lines = ReadFile(table);
        QVERIFY(lines.size() > 1000 && lines.endsWith("\r\n"));
        QCOMPARE(lines.count("\r\n"), lines.count(";OK\r\n") + 1);
    }

    // What the command line and a settings file may hold.
    void badInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        using L = QStringList;
        QTest::newRow("a leading zero is decimal")
            << L{"read", "--address", "017"} << QByteArray() << 0 << "";
        QTest::newRow("hexadecimal") << L{"read", "--address", "0x10"} << QByteArray() << 2
                                     << "\"0x10\" is not a whole number in decimal digits";
        QTest::newRow("negative speed")
            << L{"read", "--baud", "-9600"} << QByteArray() << 2 << "the speeds are 1200, 2400";
        QTest::newRow("escape in an argument")
            << L{"read", "--port", "\x1b[31mX"} << QByteArray() << 2 << "\\x1b[31mX";
        QTest::newRow("endless settings file")
            << L{"read", "--config", "/dev/zero"} << QByteArray() << 4 << "dłuższy niż 4096 bajtów";
    }
    void badInput() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, config);
        QFETCH(int, code);
        QFETCH(QString, says);
        auto sim = StartWith(dir->path(), 10, {}, 17); // 017 read as octal would be 15: nobody
        if (!config.isEmpty()) {
            QFile f(path("VQT540.cfg"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(config) == config.size());
        }
        const ToolRun r = RunTool(dir->path(), args + QStringList{"--timeout", "1000"});
        QCOMPARE(r.code, code);
        QVERIFY2(QString::fromUtf8(r.err).contains(says), r.err.constData());
        QVERIFY(!r.err.contains('\x1b'));
    }

    // SIGTERM at any moment from the tool's start: caught, it ends the
    // download with 5 and leaves no file; arriving before the tool can catch
    // it, it ends the tool by that signal, with nothing written yet. Either
    // way no file, whole or partial, is left, whatever the machine's load.
    // The meter stays silent and the time-out is the longest, so the tool is
    // still waiting whenever the signal comes, however loaded the machine.
    void earlySignal() {
        auto sim = StartWith(dir->path(), 3000);
        sim->SetFault(vqtsim::Fault::Silence);
        std::vector<std::string> store{VQT_CLI_PROGRAM};
        for (const QString& a :
             QStringList{"archive", "--period", "0", "--timeout", "60000", "--new", path("s.csv")})
            store.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string where = QFile::encodeName(dir->path()).toStdString();
        for (int delayMs : {0, 1, 5, 30, 90, 300}) {
            posix_spawn_file_actions_t files;
            posix_spawn_file_actions_init(&files);
            posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addchdir_np(&files, where.c_str());
            pid_t pid = -1;
            QCOMPARE(::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
            posix_spawn_file_actions_destroy(&files);
            if (delayMs > 0) QTest::qWait(delayMs);
            QCOMPARE(::kill(pid, SIGTERM), 0);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            const bool caught = WIFEXITED(status) && WEXITSTATUS(status) == 5;
            const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
            QVERIFY2(caught || killed,
                     qPrintable(QStringLiteral("%1 ms: status %2").arg(delayMs).arg(status)));
            QCOMPARE(QDir(dir->path()).entryList({"s.csv*", ".s.csv*"}, QDir::Files | QDir::Hidden),
                     QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(TestCliTrust)
#include "tst_cli_trust.moc"
