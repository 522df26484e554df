#include "publish/Outbox.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <filesystem>
#include <utility>

namespace publish {

namespace {

// The counters live in the file beside the rows and follow every insert and
// delete by trigger, so that the cap needs no scan of the payloads.
constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS outbox(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  topic TEXT NOT NULL,
  payload BLOB NOT NULL,
  qos INTEGER NOT NULL,
  retain INTEGER NOT NULL,
  created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT OR IGNORE INTO counters VALUES ('rows', 0), ('bytes', 0), ('dropped', 0);
CREATE TABLE IF NOT EXISTS marks(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TRIGGER IF NOT EXISTS outbox_added AFTER INSERT ON outbox BEGIN
  UPDATE counters SET value = value + 1 WHERE name = 'rows';
  UPDATE counters SET value = value + length(CAST(NEW.topic AS BLOB)) + length(NEW.payload) WHERE name = 'bytes';
END;
CREATE TRIGGER IF NOT EXISTS outbox_removed AFTER DELETE ON outbox BEGIN
  UPDATE counters SET value = value - 1 WHERE name = 'rows';
  UPDATE counters SET value = value - length(CAST(OLD.topic AS BLOB)) - length(OLD.payload) WHERE name = 'bytes';
END;
)";

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        Ok = db && sqlite3_prepare_v2(db, sql, -1, &S, nullptr) == SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(S); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, int64_t v) {
        Ok = Ok && sqlite3_bind_int64(S, i, v) == SQLITE_OK;
        return *this;
    }
    Statement& Bind(int i, std::string_view text) {
        Ok = Ok && sqlite3_bind_text(S, i, text.data(), int(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& BindBlob(int i, std::string_view bytes) {
        Ok = Ok && sqlite3_bind_blob(S, i, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE, or an error code.
    int Step() { return Ok ? sqlite3_step(S) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    int64_t Int(int column) const { return sqlite3_column_int64(S, column); }
    std::string Text(int column) const {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(S, column));
        return bytes ? std::string(bytes, size_t(sqlite3_column_bytes(S, column))) : std::string();
    }

private:
    sqlite3_stmt* S = nullptr;
    bool Ok = false;
};

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Exclusive locking: held from the first write to the close, and the WAL
// then needs no shared memory beside the file. synchronous=FULL syncs the
// WAL at every commit. The journal size limit cuts the log back to 1 MiB
// whenever it starts over.
constexpr const char* kPragmas = "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; "
                                 "PRAGMA synchronous=FULL; PRAGMA journal_size_limit=1048576;";
// Pages in the log before they are copied into the file (SQLite's own
// default, 1000, let it grow to 4 MiB).
constexpr int kCheckpointFrames = 200;
// Once the outbox has drained: a log of this many pages is emptied, and free
// pages of this many bytes (a past backlog's) are given back.
constexpr int kDrainedFrames = 32;
constexpr int64_t kShrinkBytes = 1024 * 1024;

bool IsDamage(int code) {
    return (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB;
}

// "20240501-121500", for the name of a file moved aside.
std::string Stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

struct FileId {
    dev_t Device = 0;
    ino_t Inode = 0;
};
std::optional<FileId> IdOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

} // namespace

struct Outbox::Db {
    sqlite3* Handle = nullptr;
    std::string Path;
    OutboxLimits Limits;
    int64_t Rows = 0, Bytes = 0, Dropped = 0;
    int64_t LastSeq = 0;            // the highest given out: a new file goes on from it
    std::optional<FileId> Watched;  // the file opened, while it is looked after
    std::string Damage;             // why Connect took the file for damaged
    int Frames = 0;                 // in the log
    std::vector<int64_t> Unremoved; // acknowledged, still to be removed
    bool Low = false;               // the disk nearly full
    int LastCode = SQLITE_OK;       // of the last failure, which a rollback clears
    std::vector<std::string> Notes;

    ~Db() { sqlite3_close_v2(Handle); }

    std::string Why(std::string_view what) const {
        const int code = sqlite3_extended_errcode(Handle);
        if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
            return "The outbox " + Path + " is in use by another process.";
        return "The outbox " + Path + ": " + std::string(what) + " failed (" + sqlite3_errmsg(Handle) + ").";
    }
    // The reason, with the transaction undone and the counters as on disk.
    std::string Fail(std::string_view what) {
        const std::string why = Why(what);
        LastCode = sqlite3_extended_errcode(Handle);
        if (sqlite3_get_autocommit(Handle) == 0) Exec("ROLLBACK");
        LoadCounters();
        return why;
    }
    bool Exec(const char* sql) { return sqlite3_exec(Handle, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    bool LoadCounters() {
        Statement s(Handle, "SELECT name, value FROM counters");
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            const std::string name = s.Text(0);
            (name == "rows" ? Rows : name == "bytes" ? Bytes : Dropped) = s.Int(1);
        }
        return rc == SQLITE_DONE;
    }
    int64_t Pragma(const char* sql) {
        Statement s(Handle, sql);
        return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
    }
    // Drops the oldest rows before `keep` while a cap is exceeded.
    bool KeepWithinCap(int64_t maxBytes, int64_t keep) {
        while (Rows > Limits.MaxRows || Bytes > maxBytes) {
            Statement oldest(Handle,
                             "DELETE FROM outbox WHERE seq = (SELECT min(seq) FROM outbox) AND seq < ?1");
            if (!oldest.Bind(1, keep).Run()) return false;
            if (sqlite3_changes(Handle) == 0) return true;
            if (!Statement(Handle, "UPDATE counters SET value = value + 1 WHERE name = 'dropped'").Run() ||
                !LoadCounters())
                return false;
        }
        return true;
    }

    static int OnWal(void* self, sqlite3* handle, const char* name, int frames) {
        static_cast<Db*>(self)->Frames = frames;
        if (frames >= kCheckpointFrames)
            sqlite3_wal_checkpoint_v2(handle, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }

    // Opens the file and checks it; `damaged` tells a file that is not whole
    // from one that cannot be had at all (in use, no permission).
    platform::Outcome Connect(bool& damaged) {
        damaged = false;
        const int opened =
            sqlite3_open_v2(Path.c_str(), &Handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (!Handle) return platform::Outcome::Fail("The outbox " + Path + " cannot be opened.");
        sqlite3_extended_result_codes(Handle, 1);
        sqlite3_wal_hook(Handle, &Db::OnWal, this);
        bool ok = opened == SQLITE_OK && Exec(kPragmas) && Exec("BEGIN EXCLUSIVE");
        if (ok) {
            Statement check(Handle, "PRAGMA quick_check(1)");
            ok = check.Step() == SQLITE_ROW;
            if (ok && check.Text(0) != "ok") {
                damaged = true;
                Damage = check.Text(0);
                return platform::Outcome::Fail("The outbox " + Path + " is damaged (" + Damage + ").");
            }
        }
        ok = ok && Exec(kSchema) && Exec("COMMIT") && LoadCounters();
        if (!ok) {
            const std::string why = Fail("opening");
            damaged = IsDamage(LastCode);
            Damage = sqlite3_errstr(LastCode);
            return platform::Outcome::Fail(why);
        }
        LastSeq = std::max(LastSeq, Pragma("SELECT seq FROM sqlite_sequence WHERE name = 'outbox'"));
        Watched = IdOf(Path);
        return platform::Ok();
    }

    // A damaged file goes aside under a name that says so, with its log, and
    // a new one takes its place, numbering on where the old one stopped.
    platform::Outcome Renew() {
        const std::string stamp = Path + ".damaged-" + Stamp();
        std::string aside = stamp;
        for (int n = 2; std::filesystem::exists(aside); ++n) aside = stamp + "-" + std::to_string(n);
        std::error_code error;
        std::filesystem::rename(Path, aside, error);
        if (error)
            return platform::Outcome::Fail("The outbox " + Path + " is damaged (" + Damage +
                                           ") and cannot be moved aside (" + error.message() + ").");
        std::filesystem::rename(Path + "-wal", aside + "-wal", error); // often there is none
        sqlite3_close_v2(Handle); // its log has gone aside: nothing of it is left behind
        Handle = nullptr;
        Notes.push_back("The outbox " + Path + " was damaged (" + Damage + "): it was moved aside as " +
                        aside + " and a new one started; the messages it held were not sent.");
        return Reconnect();
    }

    // The file was deleted while open: what this process still holds of it
    // goes into a new file of that name, through SQLite's backup.
    platform::Outcome Rescue() {
        Watched.reset(); // tried once per deletion
        const std::string fresh = Path + ".new";
        std::filesystem::remove(fresh);
        sqlite3* copy = nullptr;
        bool ok = sqlite3_open_v2(fresh.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_backup* backup = sqlite3_backup_init(copy, "main", Handle, "main");
            ok = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
            ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        }
        const std::string why = copy ? sqlite3_errmsg(copy) : "out of memory";
        sqlite3_close_v2(copy);
        std::error_code error;
        if (ok) std::filesystem::rename(fresh, Path, error);
        if (!ok || error) {
            std::filesystem::remove(fresh);
            Notes.push_back("The outbox " + Path + " was deleted while in use and cannot be made anew (" +
                            (ok ? error.message() : why) +
                            "); what is stored from now on is lost at the end.");
            return platform::Outcome::Fail("The outbox " + Path + " was deleted.");
        }
        sqlite3_close_v2(Handle); // also deletes the deleted file's log
        Handle = nullptr;
        Notes.push_back("The outbox " + Path + " was deleted while in use: it was made anew with the " +
                        std::to_string(Rows) + " messages it held.");
        return Reconnect();
    }

    platform::Outcome Reconnect() {
        const int64_t last = LastSeq;
        bool damaged = false;
        if (platform::Outcome connected = Connect(damaged); !connected) return connected;
        if (last > LastSeq &&
            !Statement(Handle, "INSERT INTO sqlite_sequence(name, seq) VALUES ('outbox', ?1)")
                 .Bind(1, last)
                 .Run())
            return platform::Outcome::Fail(Fail("numbering"));
        LastSeq = std::max(LastSeq, last);
        return platform::Ok();
    }

    bool Deleted() const { return Watched && !IdOf(Path) && errno == ENOENT; }

    // After a failed statement: true when the file was mended and the
    // statement is worth trying once more.
    bool Recover() {
        if (IsDamage(LastCode)) {
            Damage = sqlite3_errstr(LastCode);
            if (platform::Outcome renewed = Renew(); !renewed) {
                Notes.push_back(renewed.error);
                return false;
            }
            return true;
        }
        return Deleted() && Rescue();
    }

    int64_t FreeBytes() const {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(Path).parent_path();
        const auto space = std::filesystem::space(folder.empty() ? "." : folder, error);
        return error ? INT64_MAX : int64_t(space.available);
    }

    platform::Outcome RemovePending() {
        const bool several = Unremoved.size() > 1;
        bool ok = !several || Exec("BEGIN IMMEDIATE");
        for (size_t i = 0; ok && i < Unremoved.size(); ++i)
            ok = Statement(Handle, "DELETE FROM outbox WHERE seq = ?1").Bind(1, Unremoved[i]).Run();
        if (!ok || (several && !Exec("COMMIT")) || !LoadCounters())
            return platform::Outcome::Fail(Fail("removing a message"));
        Unremoved.clear();
        return platform::Ok();
    }

    // Nothing waits: the log is emptied into the file, and the pages a past
    // backlog left free are given back, so that neither keeps its peak size.
    void Drained() {
        const bool vacuumed =
            Pragma("PRAGMA freelist_count") * Pragma("PRAGMA page_size") >= kShrinkBytes && Exec("VACUUM");
        if ((vacuumed || Frames >= kDrainedFrames) &&
            sqlite3_wal_checkpoint_v2(Handle, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) ==
                SQLITE_OK)
            Frames = 0;
    }
};

Outbox::Outbox(std::unique_ptr<Db> db) : D(std::move(db)) {}
Outbox::Outbox(Outbox&&) noexcept = default;
Outbox& Outbox::operator=(Outbox&&) noexcept = default;
Outbox::~Outbox() = default;

platform::OrReason<Outbox> Outbox::Open(const std::string& path, OutboxLimits limits) {
    auto db = std::make_unique<Db>();
    db->Path = path;
    db->Limits = limits;
    bool damaged = false;
    platform::Outcome connected = db->Connect(damaged);
    if (!connected && damaged) connected = db->Renew();
    if (!connected) return platform::OrReason<Outbox>::Fail(connected.error);
    Outbox outbox(std::move(db));
    Db& d = *outbox.D;
    if (d.Rows > limits.MaxRows || d.Bytes > limits.MaxBytes) { // a lower cap than before
        if (!d.Exec("BEGIN IMMEDIATE") || !d.KeepWithinCap(limits.MaxBytes, INT64_MAX) || !d.Exec("COMMIT"))
            return platform::OrReason<Outbox>::Fail(d.Fail("applying the cap"));
    }
    return {std::move(outbox), {}};
}

platform::OrReason<int64_t> Outbox::Insert(const Message& m, std::optional<int64_t> replaceAfter,
                                          const Mark* mark) {
    if (int64_t(m.Topic.size() + m.Payload.size()) > D->Limits.MaxBytes)
        return platform::OrReason<int64_t>::Fail("A message of " + std::to_string(m.Payload.size()) +
                                                " bytes does not fit into the outbox " + D->Path + ".");
    if (D->Deleted()) D->Rescue();
    platform::OrReason<int64_t> done = InsertOnce(m, replaceAfter, mark);
    if (!done && D->Recover()) done = InsertOnce(m, replaceAfter, mark);
    return done;
}

platform::OrReason<int64_t> Outbox::InsertOnce(const Message& m, std::optional<int64_t> replaceAfter,
                                              const Mark* mark) {
    using Result = platform::OrReason<int64_t>;
    const bool low = D->FreeBytes() < D->Limits.KeepFreeBytes;
    if (low && !D->Low)
        D->Notes.push_back("The file system of the outbox " + D->Path + " has less than " +
                           std::to_string(D->Limits.KeepFreeBytes / 1024) +
                           " KiB free: new messages take the place of the oldest until there is room again.");
    D->Low = low;
    const int64_t size = int64_t(m.Topic.size() + m.Payload.size());
    const int64_t cap = low ? std::min(D->Limits.MaxBytes, std::max(D->Bytes, size)) : D->Limits.MaxBytes;
    if (!D->Exec("BEGIN IMMEDIATE")) return Result::Fail(D->Fail("starting a transaction"));
    bool ok = true;
    if (replaceAfter)
        ok = Statement(D->Handle, "DELETE FROM outbox WHERE topic = ?1 AND seq > ?2")
                 .Bind(1, m.Topic)
                 .Bind(2, *replaceAfter)
                 .Run();
    ok = ok && Statement(D->Handle, "INSERT INTO outbox(topic, payload, qos, retain, created_ms) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5)")
                   .Bind(1, m.Topic)
                   .BindBlob(2, m.Payload)
                   .Bind(3, m.Qos)
                   .Bind(4, m.Retain ? 1 : 0)
                   .Bind(5, NowMs())
                   .Run();
    const int64_t seq = sqlite3_last_insert_rowid(D->Handle);
    if (ok && mark)
        ok = Statement(D->Handle, "INSERT OR REPLACE INTO marks(key, value) VALUES (?1, ?2)")
                 .Bind(1, mark->first)
                 .Bind(2, mark->second)
                 .Run();
    ok = ok && D->LoadCounters() && D->KeepWithinCap(cap, seq);
    if (!ok || !D->Exec("COMMIT")) return Result::Fail(D->Fail("storing a message"));
    D->LastSeq = seq;
    return {seq, {}};
}

platform::OrReason<int64_t> Outbox::Push(const Message& message) {
    return Insert(message, std::nullopt, nullptr);
}

platform::OrReason<int64_t> Outbox::PushState(const Message& message, int64_t handedUpTo) {
    return Insert(message, handedUpTo, nullptr);
}

platform::OrReason<int64_t> Outbox::PushWithMark(const Message& message, std::string_view key,
                                                std::string_view value) {
    const Mark mark{key, value};
    return Insert(message, std::nullopt, &mark);
}

platform::OrReason<std::vector<OutboxRow>> Outbox::Peek(size_t n, int64_t after) const {
    using Result = platform::OrReason<std::vector<OutboxRow>>;
    for (int attempt = 0;; ++attempt) {
        Statement s(D->Handle, "SELECT seq, topic, payload, qos, retain, created_ms FROM outbox "
                               "WHERE seq > ?1 ORDER BY seq LIMIT ?2");
        s.Bind(1, after).Bind(2, int64_t(n));
        std::vector<OutboxRow> rows;
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            OutboxRow row;
            row.Seq = s.Int(0);
            row.Content = {s.Text(1), s.Text(2), s.Int(4) != 0, int(s.Int(3))};
            row.CreatedMs = s.Int(5);
            rows.push_back(std::move(row));
        }
        if (rc == SQLITE_DONE) return {std::move(rows), {}};
        const std::string why = D->Fail("reading");
        if (attempt > 0 || !D->Recover()) return Result::Fail(why);
    }
}

platform::Outcome Outbox::Remove(int64_t seq) {
    D->Unremoved.push_back(seq);
    platform::Outcome done = D->RemovePending();
    if (!done && D->Recover()) done = D->RemovePending();
    if (done && D->Rows == 0) D->Drained();
    return done;
}

int64_t Outbox::Count() const {
    return D->Rows;
}

int64_t Outbox::Dropped() const {
    return D->Dropped;
}

platform::OrReason<std::optional<std::string>> Outbox::GetMark(std::string_view key) const {
    using Result = platform::OrReason<std::optional<std::string>>;
    for (int attempt = 0;; ++attempt) {
        Statement s(D->Handle, "SELECT value FROM marks WHERE key = ?1");
        s.Bind(1, key);
        const int rc = s.Step();
        if (rc == SQLITE_ROW) return {std::optional<std::string>(s.Text(0)), {}};
        if (rc == SQLITE_DONE) return {std::optional<std::string>(), {}};
        const std::string why = D->Fail("reading a mark");
        if (attempt > 0 || !D->Recover()) return Result::Fail(why);
    }
}

platform::Outcome Outbox::SetMark(std::string_view key, std::string_view value) {
    for (int attempt = 0;; ++attempt) {
        if (Statement(D->Handle, "INSERT OR REPLACE INTO marks(key, value) VALUES (?1, ?2)")
                .Bind(1, key)
                .Bind(2, value)
                .Run())
            return platform::Ok();
        const std::string why = D->Fail("storing a mark");
        if (attempt > 0 || !D->Recover()) return platform::Outcome::Fail(why);
    }
}

std::vector<std::string> Outbox::TakeNotes() {
    return std::exchange(D->Notes, {});
}

} // namespace publish
