// Runs the vqt540 tool in a folder (where the simulator's COM1 link is).
#pragma once

#include "tests/core/SimulatedArchive.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

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

// A run without code of the test's own in the child goes through
// posix_spawn: QProcess starts its child with clone(CLONE_VM), so until exec
// the child runs ThreadSanitizer's hooks in this process's memory, and the
// sanitizer then takes the child's closing of descriptors for the test's main
// thread racing with the window's worker threads.
inline ToolRun SpawnAndCollect(const QString& program, const QString& dir, const QStringList& args,
                               const QProcessEnvironment& env) {
    std::vector<std::string> argStore{QFile::encodeName(program).toStdString()}, envStore;
    for (const QString& a : args) argStore.push_back(a.toStdString());
    for (const QString& e : env.toStringList()) envStore.push_back(e.toStdString());
    std::vector<char*> argv, envp;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    ToolRun run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_adddup2(&files, err[1], 2);
    const std::string where = QFile::encodeName(dir).toStdString();
    if (!where.empty()) posix_spawn_file_actions_addchdir_np(&files, where.c_str());
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(err[0]);
        run.err = "cannot start " + QFile::encodeName(program);
        return run;
    }
    // Both pipes are read together, so a full one never stalls the child.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    QByteArray* into[2] = {&run.out, &run.err};
    QDeadlineTimer deadline(120000);
    bool hung = false;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (deadline.hasExpired()) {
            hung = true;
            break;
        }
        // After a failed poll the revents are stale: a read on them could block.
        if (::poll(fds, 2, static_cast<int>(deadline.remainingTime())) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                into[i]->append(buffer, got);
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    if (hung) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (hung || !WIFEXITED(status)) {
        run.err.prepend("tool crashed or hung: ");
        return run;
    }
    run.code = WEXITSTATUS(status);
    return run;
}

inline ToolRun RunProgram(const QString& program, const QString& dir, const QStringList& args,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          const std::function<void()>& asChild = {}) {
    if (!asChild) return SpawnAndCollect(program, dir, args, env);
    QProcess p;
    p.setChildProcessModifier(asChild);
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
