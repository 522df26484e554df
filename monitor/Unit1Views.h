// The window side of the two cycles: each carries out what its cycle decides.
#pragma once

#include "monitor/Dialogs.h"
#include "monitor/Unit1.h"

#include "core/ArchiveCycle.h"

#include <QLocale>

#include <algorithm>
#include <chrono>
#include <limits>

// What both cycles ask of the window in the same way.
template <class Base> class CycleWindow : public Base {
public:
    explicit CycleWindow(TForm1& form) : Form(form) {}

    void SetStatus(const std::string& text) override { Form.setStatusText(QString::fromStdString(text)); }
    bool DiagnosticsOn() const override { return Form.DiagnosticsOn; }
    void AppendTrace(const std::string& line) override { Form.appendDiagnostics(line); }
    void ShowError(const std::string& text) override { Form.Dialogs.ShowError(QString::fromStdString(text)); }
    platform::OrReason<modbus::LinkSettings> ReadLink() override { return Form.readLink(); }
    platform::OrReason<int32_t> ReadPeriod() override { return Form.readPeriod(); }
    std::string DecimalSeparator() override { return QLocale().decimalPoint().toStdString(); }
    int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // A timer's interval for a wait that ends at `at` on this clock.
    int MsUntil(int64_t at) {
        return static_cast<int>(std::clamp<int64_t>(at - NowMs(), 0, std::numeric_limits<int>::max()));
    }

protected:
    TForm1& Form;
};

class TForm1::PollWindow final : public CycleWindow<core::PollView> {
public:
    using CycleWindow::CycleWindow;
    void ShowParameters(const model::DeviceView& decoded, const model::MeterReading& reading,
                        const model::ParameterBlock& block) override;
    void SetConnectCaption(const std::string& caption) override;
    void SetListsEditable(bool editable) override;
    void RestoreSelections(const model::CachedIndexes& indexes) override;
    void TransactionFailed(const std::string& result) override;
    void ShowPendingWrites(const std::string& text) override;
    void ShowDroppedWrites(const std::string& text) override;
    void GiveBack(const model::DeviceView& again, const std::vector<uint8_t>& registers) override;
    void ValuesCurrent(bool current) override;
    void ShowMeter(const std::optional<modbus::LinkSettings>& meter) override;
    void ShowPortProblem(const std::string& text) override;
    void ShowUnanswered(bool unanswered) override;
    std::string PortPath(const std::string& portName) override;
    void ShowPortNote(const std::string& note) override;
    void ShowInitialValues() override;
};

class TForm1::ArchiveWindow final : public CycleWindow<core::ArchiveView> {
public:
    explicit ArchiveWindow(TForm1& form);
    ~ArchiveWindow() override;
    void SetArchiveCaption(const std::string& caption) override;
    void SetSettingControlsEnabled(bool enabled) override;
    void ShowExportWindow() override;
    bool Ask(const std::string& question) override;
    void CancelQuestion() override;
    void ShowInformation(const std::string& text) override;
    std::optional<int> ArchivePeriodCode() override;
    int64_t LocalMinuteNow() override;
    void ShowProgress(const core::DownloadProgress& progress) override;
    std::string ChooseOtherFile(const std::string& error) override;
    std::function<void()> CompletionNotifier() override;

private:
    std::string OtherFile; // where the lines went when the export could not be written
    // Shared with the workers' threads: whom to tell that a transaction is
    // done; cleared when the window goes.
    struct Notifier;
    std::shared_ptr<Notifier> Notify;
};
