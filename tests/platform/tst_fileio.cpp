// The file layer on POSIX: replacing through links, keeping the owner, a new
// file that is there only whole, cutting a table back to its last whole line,
// and what a full disk leaves (on a small tmpfs, as root).
#include "platform/FileIo.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::FileErrorText;

namespace {
std::string Content(const std::string& path) {
    return platform::ReadWholeFile(path).value.value_or("<none>");
}
QStringList Names(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
// Runs fn in a child, as user nobody (in group dialout besides) when we are root; its exit code.
template <class Fn> int AsNobody(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        const gid_t dialout = 20;
        if (geteuid() == 0 && (setgroups(1, &dialout) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        _exit(fn());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}
} // namespace

class TestFileIo : public QObject {
    Q_OBJECT
private slots:
    void errorTexts() {
        QCOMPARE(FileErrorText("Zapis", "a.csv", "x"), std::string("Zapis pliku a.csv nie powiódł się (x)."));
        QCOMPARE(FileErrorText("Otwarcie do dopisania", "a", "x"),
                 std::string("Otwarcie do dopisania pliku a nie powiodło się (x)."));
    }

    void replaceThroughLinks() {
        QTemporaryDir dir;
        const std::string d = dir.path().toStdString();
        QVERIFY(QDir().mkpath(dir.filePath("shared")));
        const std::string shared = d + "/shared/file.csv";
        QVERIFY(platform::CreateWithContent(shared, "old"));
        const struct {
            const char* link;
            std::string target; // what the link names
            std::string file;   // where the contents must land
        } rows[] = {{"absolute", shared, shared},
                    {"relative", "shared/file.csv", shared},
                    {"chain", "relative", shared},
                    {"dangling", "shared/new.csv", d + "/shared/new.csv"}};
        for (const auto& r : rows) {
            const std::string link = d + "/" + r.link;
            QVERIFY(symlink(r.target.c_str(), link.c_str()) == 0);
            QCOMPARE(platform::ReplaceWholeFile(link, "new ", r.link).error, std::string());
            struct stat status {};
            QVERIFY2(lstat(link.c_str(), &status) == 0 && S_ISLNK(status.st_mode), r.link);
            QCOMPARE(Content(r.file), "new " + std::string(r.link));
        }
        QCOMPARE(Names(dir.filePath("shared")), (QStringList{"file.csv", "new.csv"})); // nothing left beside
        QVERIFY(symlink("loop2", (d + "/loop1").c_str()) == 0 &&
                symlink("loop1", (d + "/loop2").c_str()) == 0);
        QVERIFY(
            QString::fromStdString(platform::ReplaceWholeFile(d + "/loop1", "x").error).contains("loop1"));
        QCOMPARE(Names(dir.path()).size(), 7);
    }

    void replaceKeepsOwner() {
        if (geteuid() != 0) QSKIP("only root can give a file to another user");
        QTemporaryDir dir;
        chmod(dir.path().toLocal8Bit().constData(), 0777);
        const std::string path = dir.filePath("export.csv").toStdString();
        QVERIFY(platform::CreateWithContent(path, "old"));
        QCOMPARE(chown(path.c_str(), 65534, 65534) | chmod(path.c_str(), 0640), 0);
        QVERIFY(platform::ReplaceWholeFile(path, "by root"));
        struct stat status {};
        QCOMPARE(stat(path.c_str(), &status), 0);
        QCOMPARE(status.st_uid, uid_t(65534)); // still nobody's own
        QCOMPARE(status.st_gid, gid_t(65534));
        QCOMPARE(status.st_mode & 07777, mode_t(0640));
        // Another user of the file's group keeps the group, not the owner.
        QCOMPARE(chown(path.c_str(), 0, 20) | chmod(path.c_str(), 0664), 0);
        QCOMPARE(AsNobody([&] { return platform::ReplaceWholeFile(path, "by nobody") ? 0 : 1; }), 0);
        QCOMPARE(stat(path.c_str(), &status), 0);
        QVERIFY(status.st_uid == 65534 && status.st_gid == 20);
    }

    void createNewOnlyWhereFree() {
        QTemporaryDir dir;
        chmod(dir.path().toLocal8Bit().constData(), 0777); // nobody writes here, not in locked/
        const std::string d = dir.path().toStdString();
        QVERIFY(platform::CreateNewWholeFile(d + "/new.csv", "head\r\n", "1;a\r\n"));
        QCOMPARE(Content(d + "/new.csv"), std::string("head\r\n1;a\r\n"));
        QVERIFY(symlink("nowhere", (d + "/dangling.csv").c_str()) == 0);
        QVERIFY(QDir().mkpath(dir.filePath("locked")));
        chmod((d + "/locked").c_str(), 0555);
        const struct {
            std::string path, error;
        } refused[] = {
            {d + "/new.csv", FileErrorText("Utworzenie", d + "/new.csv", "plik już istnieje")},
            {d + "/dangling.csv", FileErrorText("Utworzenie", d + "/dangling.csv", "plik już istnieje")},
            {d + "/gone/a.csv", FileErrorText("Utworzenie", d + "/gone/a.csv", "No such file or directory")},
            {d + "/locked/a.csv", FileErrorText("Utworzenie", d + "/locked/a.csv", "Permission denied")}};
        for (const auto& r : refused) {
            const bool ok = AsNobody([&] {
                                return platform::CreateNewWholeFile(r.path, "x").error == r.error ? 0 : 1;
                            }) == 0;
            QVERIFY2(ok, r.path.c_str());
        }
        QCOMPARE(Content(d + "/new.csv"), std::string("head\r\n1;a\r\n"));
        QCOMPARE(Names(dir.path()), (QStringList{"dangling.csv", "locked", "new.csv"}));
        QCOMPARE(Names(dir.filePath("locked")), QStringList{});
    }

    void truncate() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("t.csv").toStdString();
        const struct {
            uint64_t size;
            const char* left;
        } rows[] = {{9, "1;a\r\n2;b\r"}, {5, "1;a\r\n"}, {40, "1;a\r\n2;b\r\n3;"}, {0, ""}};
        for (const auto& r : rows) {
            QVERIFY(platform::CreateWithContent(path, "1;a\r\n2;b\r\n3;"));
            QCOMPARE(platform::TruncateFile(path, r.size).error, std::string());
            QCOMPARE(Content(path), std::string(r.left)); // never padded past its end
        }
        const std::string gone = path + ".gone";
        QCOMPARE(platform::TruncateFile(gone, 0).error,
                 FileErrorText("Skrócenie", gone, "No such file or directory"));
    }

    void fullDisk() {
        QTemporaryDir dir;
        const QByteArray mountPoint = dir.path().toLocal8Bit();
        if (geteuid() != 0) QSKIP("a small disk to fill needs root (mount -t tmpfs)");
        if (mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here (a container without the right?)");
        struct Unmount {
            const char* at;
            ~Unmount() { umount(at); }
        } unmount{mountPoint.constData()};
        const std::string d = dir.path().toStdString(), table = d + "/watch.csv";
        const std::string big(100000, 'x');
        QVERIFY(platform::CreateWithContent(table, "Czas;Przepływ\r\n"));
        // Neither a new file nor a replacement leaves anything of what did not fit.
        QVERIFY(platform::CreateNewWholeFile(d + "/new.csv", "h", big).error.find("No space left") !=
                std::string::npos);
        QVERIFY(platform::ReplaceWholeFile(table, "h", big).error.find("No space left") != std::string::npos);
        QCOMPARE(Names(dir.path()), QStringList{"watch.csv"});
        // The watch table: line by line until the disk is full, then back to the last whole line.
        uint64_t whole = *platform::FileSize(table);
        std::string expected = Content(table);
        std::FILE* out = platform::OpenFile(table, "ab");
        QVERIFY(out);
        const std::string line = "2024-05-01T12:00:00.000+02:00;12,345;678,9;0;m3/h;brak;OK\r\n";
        for (int i = 0; i < 5000; ++i) {
            if (std::fwrite(line.data(), 1, line.size(), out) != line.size() || std::fflush(out) != 0) break;
            whole += line.size();
            expected += line;
        }
        std::fclose(out);
        QVERIFY(*platform::FileSize(table) > whole); // a part of a line did get in
        QCOMPARE(platform::TruncateFile(table, whole).error, std::string());
        QCOMPARE(Content(table), expected);
    }
};

QTEST_GUILESS_MAIN(TestFileIo)
#include "tst_fileio.moc"
