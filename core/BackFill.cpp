#include "core/BackFill.h"

#include "core/ArchiveCycle.h"
#include "core/ExportFile.h"
#include "model/Cp1250.h"

#include <algorithm>

namespace core {

namespace {
int NextOf(int slot) {
    return (slot + 1) % kMostRecords;
}
int PreviousOf(int slot) {
    return (slot + kMostRecords - 1) % kMostRecords;
}
std::string LineOf(const ArchiveRecord& record) {
    return model::Utf8ToCp1250(BuildRecordLine(record, "."));
}
} // namespace

ArchiveFill::ArchiveFill(uint8_t address, ArchiveMark mark, const ArchiveImage& known) : Known(known) {
    Result.Address = address;
    Result.Mark = std::move(mark);
    if (Known.WritePoint < 0 || Known.Slots.size() != size_t{kMostRecords}) {
        StartWhole();
        return;
    }
    Step = Phase::Check;
    Slot = PreviousOf(Known.WritePoint);
}

std::optional<int> ArchiveFill::NextSlot() const {
    if (Step == Phase::Done) return std::nullopt;
    return Slot;
}

void ArchiveFill::StartWhole() {
    Step = Phase::Whole;
    Result.Whole = true;
    Slot = 0;
    WholeImage.assign(kMostRecords, ArchiveRecord{});
    WholeLines.assign(kMostRecords, std::string());
}

void ArchiveFill::Failed() {
    ++Result.Requests;
    if (++FailedInRow < kGiveUpAfter) return;
    Result.GaveUp = true;
    Step = Phase::Done;
}

void ArchiveFill::Read(const ArchiveRecord& record) {
    ++Result.Requests;
    FailedInRow = 0;
    const std::string line = LineOf(record);
    // Byte-wise text comparison, as the window's end marker.
    const bool end = RecordDateField(line) <= kEndMarkerDate;
    switch (Step) {
    case Phase::Check:
        // The record written last is still there: the archive is the one known.
        if (record == Known.Slots[size_t(Slot)]) {
            Step = Phase::Follow;
            Slot = FollowFrom = Known.WritePoint;
        } else {
            StartWhole();
        }
        return;
    case Phase::Follow:
        // A slot the meter has not written since holds what it held; the
        // slots after it are older still.
        if (end || record == Known.Slots[size_t(Slot)]) {
            WritePoint = Slot;
            Step = Phase::Done;
            return;
        }
        Written.emplace_back(Slot, record);
        Classify(line, true);
        Slot = NextOf(Slot);
        if (Slot == FollowFrom) { // written all round since
            WritePoint = Slot;
            Step = Phase::Done;
        }
        return;
    case Phase::Whole:
        WholeImage[size_t(Slot)] = record;
        if (end) {
            EndWhole(Slot);
            return;
        }
        WholeLines[size_t(Slot)] = line;
        Classify(line, false);
        if (++Slot == kMostRecords) EndWhole(kMostRecords);
        return;
    case Phase::Done:
        return;
    }
}

bool ArchiveFill::Newer(std::string_view date, std::string_view time) const {
    return date > std::string_view(Result.Mark.Date) ||
           (date == std::string_view(Result.Mark.Date) && time > std::string_view(Result.Mark.Time));
}

void ArchiveFill::Classify(const std::string& line, bool written) {
    const std::string_view date = RecordDateField(line), time = RecordTimeField(line);
    if (!IsPossibleMoment(date, time))
        ++Result.Impossible;
    else if (Newer(date, time))
        Result.Records.push_back(line);
    else if (written)
        ++Result.BeforeMark;
}

// The whole archive read up to `end` (the end record's slot, or past the
// last): where the meter writes next, and which records it wrote after the
// mark's own.
void ArchiveFill::EndWhole(int end) {
    Step = Phase::Done;
    int first = 0, count = end;
    if (end < kMostRecords) {
        WritePoint = end; // not yet round: the end record is written over next
    } else {
        // Round: the oldest record is written over next.
        WritePoint = 0;
        std::string_view oldest;
        for (int s = 0; s < kMostRecords; ++s) {
            const std::string_view line = WholeLines[size_t(s)];
            if (!line.empty() && IsPossibleMoment(RecordDateField(line), RecordTimeField(line)) &&
                (oldest.empty() || line.substr(0, 19) < oldest.substr(0, 19))) {
                oldest = line;
                WritePoint = s;
            }
        }
        first = WritePoint;
    }
    if (Result.Mark.Date.empty()) return;
    // In the order written: after the mark's record, those not newer than it.
    int after = -1;
    for (int i = 0; i < count; ++i) {
        const std::string_view line = WholeLines[size_t((first + i) % kMostRecords)];
        const std::string_view date = RecordDateField(line), time = RecordTimeField(line);
        if (date == Result.Mark.Date && time == Result.Mark.Time)
            after = 0;
        else if (after >= 0 && IsPossibleMoment(date, time) && !Newer(date, time))
            ++after;
    }
    Result.BeforeMark = std::max(after, 0);
}

BackFillResult ArchiveFill::Take() {
    // In time order, those of one moment as written: the last one handed on
    // becomes the mark.
    std::stable_sort(Result.Records.begin(), Result.Records.end(),
                     [](const std::string& a, const std::string& b) {
                         const std::string_view da = RecordDateField(a), db = RecordDateField(b);
                         return da < db || (da == db && RecordTimeField(a) < RecordTimeField(b));
                     });
    return std::move(Result);
}

void ArchiveFill::Commit(ArchiveImage& image) const {
    if (Step != Phase::Done || Result.GaveUp) return;
    if (Result.Whole) {
        image.Slots = WholeImage;
    } else {
        for (const auto& [slot, record] : Written) image.Slots[size_t(slot)] = record;
    }
    image.WritePoint = WritePoint;
}

// --- every meter, between the rounds ---

BackFill::BackFill(BackFillView& view, const std::vector<uint8_t>& addresses, int64_t everyMs)
    : View(view), EveryMs(everyMs) {
    for (const uint8_t a : addresses) Meters.push_back({a, {}});
}

std::optional<modbus::TransactionRequest> BackFill::NextRequest(int64_t nowMs) {
    if (!Passing) {
        if (nowMs < NextMs) return std::nullopt;
        Passing = true;
        At = 0;
    }
    while (!Fill) {
        if (At == Meters.size()) {
            Passing = false;
            NextMs = nowMs + EveryMs;
            return std::nullopt;
        }
        if (std::optional<ArchiveMark> mark = View.Mark(Meters[At].Address))
            Fill = std::make_unique<ArchiveFill>(Meters[At].Address, std::move(*mark), Meters[At].Known);
        else
            ++At;
    }
    const int slot = *Fill->NextSlot();
    modbus::TransactionRequest request;
    request.Link.DeviceAddress = Meters[At].Address;
    request.Archive = true;
    request.ArchiveFile = static_cast<uint8_t>(slot / kRecordsPerFile + 1);
    request.ArchiveRecord = slot % kRecordsPerFile * kRecordStep;
    return request;
}

void BackFill::Finished(const modbus::Ending* ending) {
    if (!Fill) return;
    if (ending && ending->Succeeded() && ending->kind == modbus::Kind::ReadFileRecord)
        Fill->Read(RecordFromReply(ending->reply.data()));
    else
        Fill->Failed();
    if (!Fill->Done()) return;
    const BackFillResult result = Fill->Take();
    const bool handedOn = View.Ended(result);
    if (!result.GaveUp) {
        if (handedOn)
            Fill->Commit(Meters[At].Known);
        else
            Meters[At].Known = {}; // what was not handed on is found again by a whole read
    }
    Fill.reset();
    ++At;
}

} // namespace core
