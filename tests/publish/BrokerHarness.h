// A mosquitto broker of a test's own on 127.0.0.1 at a free port, and a
// mosquitto_sub that watches what arrives. The broker keeps sessions across
// its restart, so that the watcher misses nothing sent after it.
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <nlohmann/json.hpp>

#include "tests/publish/FreePort.h"

#include <string>
#include <vector>

namespace brokertest {

using nlohmann::json;
constexpr int kLong = 30000; // ms, for a busy machine

struct Broker {
    QTemporaryDir Folder;
    const QString Port = QString::number(FreePort());
    QProcess Process;
    QByteArray Log;
    ~Broker() { Stop(); }
    QString Path(const char* name) const { return Folder.filePath(name); }
    const QString TlsPort = QString::number(FreePort());
    // A CA of the test's own and the broker's certificate for 127.0.0.1,
    // signed by it: ca.crt, server.crt and server.key in the folder; other.crt
    // another CA, which signed wrong.crt (wrong.key) for 127.0.0.1 too.
    bool MakeCertificates() {
        QFile ext(Path("ext.cnf"));
        ext.open(QIODevice::WriteOnly);
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        ext.close();
        const QString d = Folder.path() + "/";
        const auto ssl = [](QStringList args) { // quietly: its progress dots fill the test's log
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            p.setStandardErrorFile(QProcess::nullDevice());
            p.start("openssl", args);
            return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        return ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "ca.key", "-out",
                    d + "ca.crt", "-days", "2", "-subj", "/CN=vqt540 test CA"}) &&
               ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "other.key", "-out",
                    d + "other.crt", "-days", "2", "-subj", "/CN=another CA"}) &&
               ssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "server.key", "-out",
                    d + "server.csr", "-subj", "/CN=127.0.0.1"}) &&
               ssl({"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey", d + "ca.key",
                    "-CAcreateserial", "-out", d + "server.crt", "-days", "2", "-extfile", d + "ext.cnf"}) &&
               ssl({"x509", "-req", "-in", d + "server.csr", "-CA", d + "other.crt", "-CAkey",
                    d + "other.key", "-CAcreateserial", "-out", d + "wrong.crt", "-days", "2", "-extfile",
                    d + "ext.cnf"}) &&
               QFile::copy(d + "server.key", d + "wrong.key");
    }
    // With `more` lines for its configuration; `cert` names the TLS
    // listener's certificate and key.
    bool Start(bool tls = false, const QString& more = {}, const QString& cert = "server") {
        // and wait until it listens
        QFile conf(Path("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(
            QString("listener %1 127.0.0.1\nallow_anonymous true\nuser root\nlog_dest stderr\nlog_type all\n"
                    "persistence true\npersistence_location %2/\n")
                .arg(Port, Folder.path())
                .toUtf8());
        if (tls)
            conf.write(QString("listener %1 127.0.0.1\ncafile %2/ca.crt\ncertfile %2/%3.crt\n"
                               "keyfile %2/%3.key\n")
                           .arg(TlsPort, Folder.path(), cert)
                           .toUtf8());
        conf.write(more.toUtf8());
        conf.close();
        Process.setProcessChannelMode(QProcess::MergedChannels);
        Process.start("/usr/sbin/mosquitto", {"-c", conf.fileName()});
        Log.clear();
        while (!Log.contains(" running") && Process.waitForReadyRead(kLong)) Log += Process.readAll();
        return Log.contains(" running");
    }
    qsizetype Count(const char* text) { return (Log += Process.readAll()).count(text); }
    void Stop() { // SIGTERM: the sessions are saved
        Process.terminate();
        Process.waitForFinished(kLong);
    }
    int Pub(QStringList args) const {
        return QProcess::execute("/usr/bin/mosquitto_pub", QStringList{"-p", Port, "-q", "1"} + args);
    }
};

// vqt540/# and homeassistant/device/# at QoS 1; with an id, in a session.
struct Watcher {
    QProcess Process;
    QByteArray Output;
    Watcher(const Broker& broker, QStringList more = {}) {
        Process.start("/usr/bin/mosquitto_sub",
                      QStringList{"-p", broker.Port, "-q", "1", "-F", "%r %t %p", "-t", "vqt540/#", "-t",
                                  "homeassistant/device/#"} +
                          more);
    }
    ~Watcher() {
        Process.kill();
        Process.waitForFinished();
    }
    // "retain-flag payload" of each whole line on the topic.
    std::vector<std::string> On(const std::string& topic) {
        Output += Process.readAllStandardOutput();
        std::vector<std::string> out;
        const std::string prefix = " " + topic + " ";
        for (const QByteArray& line : Output.left(Output.lastIndexOf('\n') + 1).split('\n'))
            if (line.mid(1, qsizetype(prefix.size())).toStdString() == prefix)
                out.push_back(line.left(1).toStdString() +
                              line.mid(qsizetype(prefix.size()) + 1).toStdString());
        return out;
    }
    std::string Last(const std::string& topic) {
        const auto all = On(topic);
        return all.empty() ? std::string() : all.back().substr(1);
    }
    // Once the publisher's messages are acknowledged the broker has queued
    // them for the watcher; a probe sent after them arrives after them.
    bool Drained(const Broker& broker) {
        static int probes = 0;
        const std::string probe = "end " + std::to_string(++probes);
        if (broker.Pub({"-t", "vqt540/probe", "-m", QString::fromStdString(probe)}) != 0) return false;
        for (QDeadlineTimer limit(kLong); Last("vqt540/probe") != probe; QTest::qWait(50))
            if (limit.hasExpired()) return false;
        return true;
    }
    std::vector<int> Forwards(const std::string& topic) {
        std::vector<int> out;
        for (const auto& m : On(topic))
            out.push_back(json::parse(m.substr(1))["forwardTotaliser"]["value"].get<int>());
        return out;
    }
};

} // namespace brokertest
