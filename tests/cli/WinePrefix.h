// A Wine prefix of our own for running vqt540.exe against the simulator:
// made anew, its COM1 mapped to a path that each simulator links to its
// pseudo-terminal, and one wineserver kept running across all the runs, so
// that only the first start pays for setting the prefix up. Plain POSIX, for
// the tests and the benchmark alike.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace winetest {

// wine on PATH, or "" when it is not installed.
inline std::string FindWine() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/wine";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Starts a program in a session of its own (the pseudo-terminals Wine opens
// must not become the caller's controlling terminal, nor their hang-ups
// reach it), stdin from /dev/null, stdout and stderr appended to `log`
// (empty: the caller's), in `dir` (empty: the caller's). -1 when it cannot.
inline pid_t SpawnProcess(const std::vector<std::string>& args, std::vector<std::string> env,
                          const std::string& dir, const std::string& log) {
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
    }
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&files, dir.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &files, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return rc == 0 ? pid : -1;
}

class WinePrefix {
public:
    // prefix: the folder to make anew; com1: the path Wine's COM1 leads to;
    // extra: NAME=VALUE entries that replace or add to the environment below.
    WinePrefix(std::string prefix, std::string com1, std::vector<std::string> extra = {})
        : Folder(std::move(prefix)), Com1(std::move(com1)), Extra(std::move(extra)) {}
    ~WinePrefix() { Stop(); }
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    const std::string& Path() const { return Folder; }
    // Wine's own messages and the wineserver's, which must not flood a test log.
    std::string LogPath() const { return Folder + ".log"; }

    // "" when the prefix is ready, else what failed.
    std::string Start() {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
        std::filesystem::remove(LogPath(), ignored);
        std::filesystem::create_directories(Folder, ignored);
        // The first run sets the prefix up. Wine reads the port map only when
        // its services start, so they are started anew after the map is set.
        if (Run({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d", Com1, "/f"}) != 0)
            return "wine could not set up " + Folder + " (see " + LogPath() + ")";
        Run({"wineserver", "-k"});
        Run({"wineserver", "-w"});
        Server = Spawn({"wineserver", "-f", "-p"});
        if (Server < 0) return "wineserver did not start";
        if (Run({"wine", "reg", "query", "HKLM\\Software\\Wine\\Ports", "/v", "COM1"}) != 0)
            return "wine did not start in " + Folder + " (see " + LogPath() + ")";
        return {};
    }

    void Stop() {
        if (Server < 0) return;
        Run({"wineserver", "-k"});
        int status = 0;
        ::waitpid(Server, &status, 0);
        Server = -1;
    }

    // NAME=VALUE for everything run in the prefix: no debug output, no
    // downloads of Wine's .NET and HTML engines, no display, and UTF-8 as
    // the code of file names and arguments on the Linux side.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name != "WINEPREFIX" && name != "WINEDEBUG" && name != "WINEDLLOVERRIDES" &&
                name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "LC_ALL")
                env.push_back(entry);
        }
        env.push_back("WINEPREFIX=" + Folder);
        env.push_back("WINEDEBUG=-all");
        env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
        env.push_back("LC_ALL=C.UTF-8");
        for (const std::string& entry : Extra) {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
            env.push_back(entry);
        }
        return env;
    }

    // Runs a program in the prefix with its output in the log; its exit code.
    int Run(const std::vector<std::string>& args) const {
        const pid_t pid = Spawn(args);
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // CPU seconds used so far by every living process of this prefix (the
    // wineserver and Wine's services among them).
    double CpuSeconds() const {
        double total = 0;
        DIR* proc = ::opendir("/proc");
        if (!proc) return 0;
        const std::string mark = "WINEPREFIX=" + Folder;
        while (const dirent* entry = ::readdir(proc)) {
            const std::string pid = entry->d_name;
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream environFile("/proc/" + pid + "/environ", std::ios::binary);
            const std::string env((std::istreambuf_iterator<char>(environFile)),
                                  std::istreambuf_iterator<char>());
            if (env.find(mark + '\0') == std::string::npos && !env.ends_with(mark)) continue;
            std::ifstream statFile("/proc/" + pid + "/stat");
            const std::string stat((std::istreambuf_iterator<char>(statFile)),
                                   std::istreambuf_iterator<char>());
            const size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::stringstream fields(stat.substr(close + 2));
            std::string field;
            double ticks = 0;
            // utime and stime are the 14th and 15th fields; after the name, the 12th and 13th.
            for (int i = 1; i <= 13 && fields >> field; ++i)
                if (i >= 12) ticks += std::strtod(field.c_str(), nullptr);
            total += ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
        ::closedir(proc);
        return total;
    }

private:
    pid_t Spawn(const std::vector<std::string>& args) const {
        return SpawnProcess(args, Environment(), {}, LogPath());
    }

    std::string Folder;
    std::string Com1;
    std::vector<std::string> Extra;
    pid_t Server = -1;
};

} // namespace winetest
