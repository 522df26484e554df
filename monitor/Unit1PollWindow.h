// The window side of the polling cycle: carries out what the cycle decides.
#pragma once

#include "Unit1.h"

class TForm1::PollWindow final : public monitor::core::PollView {
public:
    explicit PollWindow(TForm1& form) : Form(form) {}

    void SetStatus(const std::string& text) override;
    bool DiagnosticsOn() const override;
    void AppendTrace(const std::string& line) override;
    void StartTimer(monitor::core::TimerId timer, int intervalMs) override;
    void StopTimer(monitor::core::TimerId timer) override;
    void ShowError(const std::string& text) override;
    monitor::core::Reading<modbus::LinkSettings> ReadLink() override;
    monitor::core::Reading<int32_t> ReadPeriod() override;
    model::CachedIndexes Decode(const model::ParameterBlock& block) override;
    void SetConnectCaption(const std::string& caption) override;
    void SetListsEditable(bool editable) override;
    void RestoreSelections(const model::CachedIndexes& indexes) override;

private:
    QTimer* timer(monitor::core::TimerId id) const;
    TForm1& Form;
};
