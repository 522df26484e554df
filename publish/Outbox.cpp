#include "publish/Outbox.h"

#include <sqlite3.h>

#include <chrono>

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
        Ok = sqlite3_prepare_v2(db, sql, -1, &S, nullptr) == SQLITE_OK;
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

} // namespace

struct Outbox::Db {
    sqlite3* Handle = nullptr;
    std::string Path;
    OutboxLimits Limits;
    int64_t Rows = 0, Bytes = 0, Dropped = 0;

    ~Db() { sqlite3_close_v2(Handle); }

    std::string Why(std::string_view what) const {
        const int code = sqlite3_extended_errcode(Handle);
        if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
            return "The outbox " + Path + " is in use by another process.";
        return "The outbox " + Path + ": " + std::string(what) + " failed (" + sqlite3_errmsg(Handle) + ").";
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
    // Drops the oldest rows while the cap is exceeded.
    bool KeepWithinCap() {
        while (Rows > Limits.MaxRows || Bytes > Limits.MaxBytes) {
            if (!Statement(Handle, "DELETE FROM outbox WHERE seq = (SELECT min(seq) FROM outbox)").Run() ||
                !Statement(Handle, "UPDATE counters SET value = value + 1 WHERE name = 'dropped'").Run() ||
                !LoadCounters())
                return false;
        }
        return true;
    }
};

Outbox::Outbox(std::unique_ptr<Db> db) : D(std::move(db)) {}
Outbox::Outbox(Outbox&&) noexcept = default;
Outbox& Outbox::operator=(Outbox&&) noexcept = default;
Outbox::~Outbox() = default;

platform::Reading<Outbox> Outbox::Open(const std::string& path, OutboxLimits limits) {
    auto db = std::make_unique<Db>();
    db->Path = path;
    db->Limits = limits;
    if (sqlite3_open_v2(path.c_str(), &db->Handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return platform::Reading<Outbox>::Fail(db->Handle ? db->Why("opening")
                                                          : "The outbox " + path + " cannot be opened.");
    sqlite3_extended_result_codes(db->Handle, 1);
    // Exclusive locking: held from the first write to the close, and the WAL
    // then needs no shared memory beside the file. synchronous=FULL syncs
    // the WAL at every commit.
    if (!db->Exec("PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;") ||
        !db->Exec("BEGIN EXCLUSIVE") || !db->Exec(kSchema) || !db->Exec("COMMIT") || !db->LoadCounters())
        return platform::Reading<Outbox>::Fail(db->Why("opening"));
    Outbox outbox(std::move(db));
    if (outbox.D->Rows > limits.MaxRows || outbox.D->Bytes > limits.MaxBytes) { // a lower cap than before
        if (!outbox.D->Exec("BEGIN IMMEDIATE") || !outbox.D->KeepWithinCap() || !outbox.D->Exec("COMMIT"))
            return platform::Reading<Outbox>::Fail(outbox.D->Why("applying the cap"));
    }
    return {std::move(outbox), {}};
}

platform::Reading<int64_t> Outbox::Insert(const Message& m, std::optional<int64_t> replaceAfter,
                                          const std::pair<std::string_view, std::string_view>* mark) {
    using Result = platform::Reading<int64_t>;
    if (int64_t(m.Topic.size() + m.Payload.size()) > D->Limits.MaxBytes)
        return Result::Fail("A message of " + std::to_string(m.Payload.size()) +
                            " bytes does not fit into the outbox " + D->Path + ".");
    if (!D->Exec("BEGIN IMMEDIATE")) return Result::Fail(D->Why("starting a transaction"));
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
    ok = ok && D->LoadCounters() && D->KeepWithinCap();
    if (!ok || !D->Exec("COMMIT")) {
        const std::string why = D->Why("storing a message");
        D->Exec("ROLLBACK");
        D->LoadCounters();
        return Result::Fail(why);
    }
    return {seq, {}};
}

platform::Reading<int64_t> Outbox::Push(const Message& message) {
    return Insert(message, std::nullopt, nullptr);
}

platform::Reading<int64_t> Outbox::PushState(const Message& message, int64_t handedUpTo) {
    return Insert(message, handedUpTo, nullptr);
}

platform::Reading<int64_t> Outbox::PushWithMark(const Message& message, std::string_view key,
                                                std::string_view value) {
    const std::pair<std::string_view, std::string_view> mark{key, value};
    return Insert(message, std::nullopt, &mark);
}

platform::Reading<std::vector<OutboxRow>> Outbox::Peek(size_t n, int64_t after) const {
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
    if (rc != SQLITE_DONE) return platform::Reading<std::vector<OutboxRow>>::Fail(D->Why("reading"));
    return {std::move(rows), {}};
}

platform::Outcome Outbox::Remove(int64_t seq) {
    const bool ok = Statement(D->Handle, "DELETE FROM outbox WHERE seq = ?1").Bind(1, seq).Run();
    if (!ok || !D->LoadCounters()) return platform::Outcome::Fail(D->Why("removing a message"));
    return platform::Ok();
}

int64_t Outbox::Count() const {
    return D->Rows;
}

int64_t Outbox::Dropped() const {
    return D->Dropped;
}

platform::Reading<std::optional<std::string>> Outbox::GetMark(std::string_view key) const {
    using Result = platform::Reading<std::optional<std::string>>;
    Statement s(D->Handle, "SELECT value FROM marks WHERE key = ?1");
    s.Bind(1, key);
    const int rc = s.Step();
    if (rc == SQLITE_ROW) return {std::optional<std::string>(s.Text(0)), {}};
    if (rc == SQLITE_DONE) return {std::optional<std::string>(), {}};
    return Result::Fail(D->Why("reading a mark"));
}

platform::Outcome Outbox::SetMark(std::string_view key, std::string_view value) {
    if (!Statement(D->Handle, "INSERT OR REPLACE INTO marks(key, value) VALUES (?1, ?2)")
             .Bind(1, key)
             .Bind(2, value)
             .Run())
        return platform::Outcome::Fail(D->Why("storing a mark"));
    return platform::Ok();
}

} // namespace publish
