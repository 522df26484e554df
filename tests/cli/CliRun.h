// Runs the vqt540 tool in a folder (where the simulator's COM1 link is).
#pragma once

#include "tests/core/SimulatedArchive.h"

#include <QProcess>

#include <functional>

struct ToolRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Any program (the Windows tool runs as wine and its arguments).
inline void StartProgram(QProcess& p, const QString& program, const QString& dir, const QStringList& args,
                         const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    p.setWorkingDirectory(dir);
    p.setProcessEnvironment(env);
    p.start(program, args);
}

inline void StartTool(QProcess& p, const QString& dir, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    StartProgram(p, QStringLiteral(VQT_CLI_PROGRAM), dir, args, env);
}

inline ToolRun RunProgram(const QString& program, const QString& dir, const QStringList& args,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          const std::function<void()>& asChild = {}) {
    QProcess p;
    if (asChild) p.setChildProcessModifier(asChild);
    StartProgram(p, program, dir, args, env);
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

inline ToolRun RunTool(const QString& dir, const QStringList& args,
                       const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                       const std::function<void()>& asChild = {}) {
    return RunProgram(QStringLiteral(VQT_CLI_PROGRAM), dir, args, env, asChild);
}
