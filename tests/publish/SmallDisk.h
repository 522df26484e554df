// A small tmpfs of a test's own (root alone may mount one), and a file that
// takes its last byte, for a disk that runs full and gets room again.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace brokertest {

struct SmallDisk {
    QByteArray Where;
    bool Mounted = false;

    // Empty once mounted; else the reason to skip.
    QString Mount(const QString& folder, const char* size) {
        if (::geteuid() != 0) return "needs root to mount a small tmpfs";
        Where = QFile::encodeName(folder);
        QDir().mkpath(folder);
        if (::mount("tmpfs", Where.constData(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0)
            return QString("no tmpfs can be mounted here (%1)").arg(std::strerror(errno));
        Mounted = true;
        return {};
    }
    ~SmallDisk() {
        if (Mounted) ::umount2(Where.constData(), MNT_DETACH); // the outbox may still be open
    }
    std::string Path(const char* name) const { return Where.toStdString() + "/" + name; }
    // Writes a filler until not one byte more fits.
    bool Fill() const {
        const int fd = ::open(Path("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        static const char block[65536] = {};
        for (size_t size = sizeof block; size > 0;)
            if (::write(fd, block, size) < 0) size /= 2;
        ::close(fd);
        return true;
    }
    void Unfill() const { ::unlink(Path("filler").c_str()); }
};

} // namespace brokertest
