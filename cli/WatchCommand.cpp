// vqt540 watch: the window's polling cycle, one table line per read.
#include "cli/Commands.h"
#include "cli/Loop.h"
#include "cli/Say.h"

#include "core/PollCycle.h"
#include "modbus/Modbus.h"
#include "modbus/SerialPort.h"
#include "modbus/Worker.h"
#include "model/Cp1250.h"
#include "model/Decode.h"
#include "model/Tables.h"
#include "platform/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

namespace cli {

namespace {

using core::LinkState;
using core::PollCycle;
using platform::Reading;

constexpr std::string_view kHeader = "Czas;Przepływ chwilowy;Jednostka przepływu;Licznik w przód L+;"
                                     "Licznik w tył L-;Jednostka liczników;Alarmy;Stan";
constexpr std::string_view kGood = "OK";

// stdout as UTF-8 lines, or a CSV file as the export file is written:
// Windows-1250, CR LF. Every line is flushed, so that a stop loses nothing.
class Table {
public:
    ~Table() { Close(); }

    std::string Open(const std::string& csvPath) {
        if (csvPath.empty()) {
            Out = stdout;
        } else {
            // Appended to, so that a watch started again goes on with the same table.
            Out = platform::OpenFile(csvPath, "ab");
            if (!Out) return "Plik " + csvPath + ": " + std::strerror(errno);
            Csv = true;
            Path = csvPath;
        }
        if (!Csv) return Write(std::string(kHeader));
        // Its length, not ftell: a stream opened for appending may say 0 there.
        const platform::Reading<uint64_t> size = platform::FileSize(csvPath);
        if (!size) return size.error;
        Size = *size;
        return Size == 0 ? Write(std::string(kHeader)) : std::string();
    }

    std::string Write(const std::string& utf8) {
        const std::string line = Csv ? model::Utf8ToCp1250(utf8) + "\r\n" : utf8 + "\n";
        if (std::fwrite(line.data(), 1, line.size(), Out) == line.size() && std::fflush(Out) == 0) {
            Size += line.size();
            return {};
        }
        const std::string why = std::strerror(errno);
        if (!Csv) return "stdout: " + why;
        // A short write (a full disk) leaves half a line, onto which the next
        // run would glue its first: the table goes back to its last whole line.
        std::fclose(Out);
        Out = nullptr;
        const platform::Outcome cut = platform::TruncateFile(Path, Size);
        return "Plik " + Path + ": " + why +
               (cut ? "; cut back to its last complete line"
                    : "; " + cut.error + " (the last line is incomplete)");
    }

    void Close() {
        if (Csv && Out) std::fclose(Out);
        Out = nullptr;
    }

private:
    std::FILE* Out = nullptr;
    bool Csv = false;
    std::string Path;
    uint64_t Size = 0; // of the file up to its last whole line
};

class WatchView final : public core::PollView {
public:
    WatchView(const CommonOptions& common, const WatchOptions& options, Loop& loop, Table& table)
        : Common(common), Options(options), Separator(common.Separator()), Waits(loop), Lines(table) {}

    int Reads = 0;
    int Failed = 0;
    std::string WriteError;
    bool Refused = false;

    bool Finished() const { return !WriteError.empty() || (Options.Count > 0 && Reads >= Options.Count); }

    void ShowParameters(const model::DeviceView& shown, const model::MeterReading& reading,
                        const model::ParameterBlock&) override {
        // In the unit the numbers are in: for the flow code without a unit
        // the last known one, as the window keeps it.
        const model::ReadingInUnits u = model::InUnits(reading, shown.Indexes.FlowUnitIndex);
        std::string alarms;
        for (const std::string& alarm : u.Alarms) alarms += (alarms.empty() ? "" : " + ") + alarm;
        Emit({IsoLocalTimeNow(), u.FlowText(Separator), "[" + u.FlowUnit + "]", u.ForwardText(Separator),
              u.ReverseText(Separator), "[" + u.TotaliserUnit + "]", alarms, std::string(kGood)});
    }

    void TransactionFailed(const std::string& status) override {
        const std::string time = IsoLocalTimeNow();
        ++Failed;
        Say(time + ": " + status + " (failed reads: " + std::to_string(Failed) + " of " +
            std::to_string(Reads + 1) + ")");
        Emit({time, "", "", "", "", "", "", status});
    }

    int64_t NowMs() override { return Loop::NowMs(); }
    std::function<void()> CompletionNotifier() override { return Waits.Notifier(); }
    void ShowError(const std::string& text) override {
        Refused = true;
        Say(text);
    }
    Reading<modbus::LinkSettings> ReadLink() override { return {Common.Link(), {}}; }
    Reading<int32_t> ReadPeriod() override { return {Options.IntervalMs, {}}; }
    std::string DecimalSeparator() override { return Separator; }

private:
    void Emit(const std::vector<std::string>& fields) {
        ++Reads;
        std::string line;
        for (const std::string& field : fields) line += (line.empty() ? "" : ";") + field;
        if (WriteError.empty()) WriteError = Lines.Write(line);
    }

    const CommonOptions& Common;
    const WatchOptions& Options;
    const std::string Separator;
    Loop& Waits;
    Table& Lines;
};

} // namespace

int RunWatch(const CommonOptions& common, const WatchOptions& options, Loop& loop) {
    if (const int code = CheckPort(common.Port); code != kExitOk) return code;
    Table table;
    if (const std::string error = table.Open(options.CsvPath); !error.empty()) {
        Say(error);
        return kExitFile;
    }

    int code = kExitOk;
    {
        LinkState link;
        WatchView view(common, options, loop, table);
        PollCycle poll(link, modbus::StartWorker, view);
        poll.ConnectButton();
        while (poll.Connected() && !view.Finished()) {
            if (loop.WaitUntil(poll.NextWakeMs()) == Loop::Event::Stop) break;
            poll.Wake();
        }
        // A read in flight is given up; the worker ends by itself.
        if (poll.Connected()) poll.Disconnect(false);
        table.Close();
        if (view.Failed > 0)
            Say(std::to_string(view.Reads) + " reads, " + std::to_string(view.Failed) + " failed");
        if (view.Refused)
            code = kExitInternal;
        else if (!view.WriteError.empty()) {
            Say(view.WriteError);
            code = kExitFile;
        } else if (view.Failed > 0)
            code = kExitNoAnswer;
    }
    modbus::ModbusRead::WaitForAllWorkers(std::chrono::milliseconds(common.TimeoutMs + 2000));
    return code;
}

} // namespace cli
