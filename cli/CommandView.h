// What the commands' views of the core cycles give alike, so that each view
// says only what its command does with the cycle's news. Templates, because
// the cycles' view interfaces share no base of their own.
#pragma once

#include "cli/CommonOptions.h"
#include "cli/Loop.h"

#include "core/CycleView.h"
#include "modbus/LinkSettings.h"
#include "platform/OrReason.h"

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>

namespace cli {

// Any cycle's view: the loop's clock, and a finished transaction wakes the loop.
template <class Interface> class LoopView : public Interface {
public:
    explicit LoopView(Loop& loop) : Waits(loop) {}

    int64_t NowMs() override { return Loop::NowMs(); }
    std::function<void()> CompletionNotifier() override { return Waits.Notifier(); }

private:
    Loop& Waits;
};

// A view that also shows the command line's port and numbers. The separator
// is looked up once: the locale's costs a setlocale each time.
template <class Interface> class OptionsView : public LoopView<Interface> {
public:
    OptionsView(const CommonOptions& common, Loop& loop)
        : LoopView<Interface>(loop), Common(common), Separator(common.Separator()) {}

protected:
    const CommonOptions& Common;
    const std::string Separator;
};

// The polling cycle's or the download's view: the communication page is the
// command line's, the same for the whole run.
template <class Interface> class CommandView : public OptionsView<Interface> {
    static_assert(std::is_base_of_v<core::CycleView, Interface>);

public:
    CommandView(const CommonOptions& common, Loop& loop, int32_t periodMs)
        : OptionsView<Interface>(common, loop), PeriodMs(periodMs) {}

    platform::OrReason<modbus::LinkSettings> ReadLink() override { return {this->Common.Link(), {}}; }
    platform::OrReason<int32_t> ReadPeriod() override { return {PeriodMs, {}}; }
    std::string DecimalSeparator() override { return this->Separator; }

private:
    const int32_t PeriodMs;
};

} // namespace cli
