// Runs the vqt540 tool in a folder (where the simulator's COM1 link is) and
// builds the export the simulator's records should give.
#pragma once

#include "Simulator.h"

#include <Cp1250.h>
#include <ExportFile.h>
#include <RecordLine.h>

#include <QProcess>
#include <QTest>

#include <algorithm>
#include <functional>

struct ToolRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

inline void StartTool(QProcess& p, const QString& dir, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    p.setWorkingDirectory(dir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VQT_CLI_PROGRAM), args);
}

inline ToolRun RunTool(const QString& dir, const QStringList& args,
                       const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                       const std::function<void()>& asChild = {}) {
    QProcess p;
    if (asChild) p.setChildProcessModifier(asChild);
    StartTool(p, dir, args, env);
    ToolRun run;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished();
        run.err = "tool crashed or hung: " + p.readAllStandardError();
        return run;
    }
    run.code = p.exitCode();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// The export of the first `upTo` dated records in reading order (all of
// them for -1): in time order, numbered from 0, as the window writes it.
inline QByteArray ExpectedExport(const vqtsim::Simulator& sim, const std::string& separator, int upTo = -1) {
    std::vector<std::string> lines;
    for (int file = 1; file <= 4; ++file)
        for (int i = 0; i < 3225; ++i) {
            const auto record = sim.ArchiveRecord(file, i);
            archive::ArchiveRecord r;
            std::copy(record.begin(), record.end(), r.begin());
            const std::string line = archive::BuildRecordLine(r, separator);
            if (archive::RecordDateField(line) <= "1999-01-01" ||
                (upTo >= 0 && static_cast<int>(lines.size()) == upTo))
                goto done;
            lines.push_back(model::Utf8ToCp1250(line));
        }
done:
    std::sort(lines.begin(), lines.end());
    return QByteArray::fromStdString(archive::ExportHeader() + "\r\n" + archive::NumberedLines(lines, 0));
}
