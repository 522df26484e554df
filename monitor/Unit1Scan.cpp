// TForm1: looking for the meter on the line. The plain scan decides; a
// progress dialog shows it and can stop it, and what it finds may go into
// the communication page.
#include "monitor/Unit1.h"

#include "monitor/Convert.h"
#include "monitor/DPlik.h"
#include "monitor/Dialogs.h"
#include "monitor/Messages.h"

#include "core/Progress.h"
#include "core/Scan.h"
#include "modbus/PortName.h"
#include "modbus/SerialPort.h"
#include "model/ConfigFile.h"
#include "model/NumberFormat.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

using core::ScanProgress;

// Items of the Parity list, by the port's parity code.
int ParityItem(uint8_t code) {
    return static_cast<int>(modbus::ParityIndex(code).value_or(0));
}

QString ParityText(uint8_t code) {
    const std::string_view text = modbus::kParities[static_cast<size_t>(ParityItem(code))].Text;
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Described(const modbus::LinkSettings& l) {
    return QStringLiteral("adres %1, %2 bit/s, parzystość %3")
        .arg(l.DeviceAddress)
        .arg(l.BaudRate)
        .arg(ParityText(l.Parity));
}

class ScanDialog final : public core::ScanView {
public:
    explicit ScanDialog(QProgressDialog& dialog) : Notify(std::make_shared<Notifier>()), Dialog(dialog) {
        Wake.setSingleShot(true);
        Wake.setTimerType(Qt::PreciseTimer);
        Notify->wake = &Wake;
    }
    ~ScanDialog() override {
        // A probe given up may still finish later: it must find nobody.
        std::lock_guard lock(Notify->mutex);
        Notify->wake = nullptr;
    }
    int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void ShowProgress(const ScanProgress& p) override {
        Dialog.setMaximum(p.Total);
        Dialog.setValue(p.Probed);
        Dialog.setLabelText(QStringLiteral("Sprawdzanie: %1\ndo końca najwyżej %2")
                                .arg(Described(p.Probing))
                                .arg(QString::fromStdString(core::DurationText(p.MsLeft))));
    }
    void Finished() override { Done.quit(); }
    // A finished probe wakes the scan at once, on the window's thread.
    std::function<void()> CompletionNotifier() override {
        return [notify = Notify] {
            std::lock_guard lock(notify->mutex);
            if (QTimer* wake = notify->wake)
                QMetaObject::invokeMethod(
                    wake, [wake] { wake->start(0); }, Qt::QueuedConnection);
        };
    }
    // Arms the wake for the time the scan names; disarms it when it names none.
    void WakeAt(std::optional<int64_t> at) {
        if (!at) {
            Wake.stop();
            return;
        }
        Wake.start(static_cast<int>(std::clamp<int64_t>(*at - NowMs(), 0, std::numeric_limits<int>::max())));
    }
    QEventLoop Done;
    QTimer Wake;

private:
    // Shared with the probes' threads; cleared before the timer goes.
    struct Notifier {
        std::mutex mutex;
        QTimer* wake = nullptr;
    };
    std::shared_ptr<Notifier> Notify;
    QProgressDialog& Dialog;
};

} // namespace

void TForm1::Button8Click() {
    if (Poll->Connected() || Archive->ArchiveRunning()) {
        Dialogs.ShowInformation(QStringLiteral(
            "Szukanie przepływomierza jest możliwe po zakończeniu połączenia i zapisu archiwum."));
        return;
    }
    // Only the port must be usable: the rest is what is being looked for,
    // and what the page says is only tried first.
    const platform::OrReason<core::ScanPlan> plan = core::PlanFromPage(pageChoice());
    if (!plan) throw monitor::ConvertError(QString::fromStdString(plan.error));
    // A port that cannot be opened would only make every probe time out. A
    // gateway tells what it finds through the probes themselves.
    if (!modbus::IsGatewayName(plan->PortName)) {
        const modbus::PortProbe probe = modbus::ProbePort(plan->PortName);
        const bool closingHere =
            probe.state == modbus::PortProbe::State::Busy && ModbusLink.PortHeld(plan->PortName);
        if (probe.state != modbus::PortProbe::State::Usable && !closingHere)
            throw std::runtime_error("Nie można szukać przepływomierza: " + modbus::DescribeProbe(probe));
    }

    QProgressDialog dialog(QStringLiteral("Szukanie przepływomierza…"), QStringLiteral("Przerwij"), 0, 1,
                           this);
    dialog.setWindowTitle(QStringLiteral("Szukaj przepływomierza"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumWidth(420);
    // The count moves with every probe; a share of thousands would stay at 0 % for minutes.
    auto* bar = new QProgressBar(&dialog);
    bar->setFormat(QStringLiteral("%v z %m"));
    dialog.setBar(bar);
    monitor::CenterOnOwner(&dialog);
    monitor::OpenOver(&dialog, this);
    ScanDialog view(dialog);
    core::Scan scan(Transactions, view);
    // Woken when the scan says, or at once when a probe finishes.
    QObject::connect(&view.Wake, &QTimer::timeout, &dialog, [&scan, &view] {
        scan.Wake();
        view.WakeAt(scan.NextWakeMs());
    });
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&scan] { scan.Stop(); });
    scan.Start(*plan);
    if (scan.Running()) {
        dialog.show();
        view.WakeAt(scan.NextWakeMs());
        view.Done.exec();
        view.Wake.stop();
    }
    const bool cancelled = dialog.wasCanceled();
    dialog.hide();
    if (cancelled) return;

    if (scan.Findings.empty()) {
        QString text = QStringLiteral("Na porcie %1 nie odpowiada żaden przepływomierz.").arg(PortNr->text());
        for (const modbus::LinkSettings& l : scan.OtherSettings)
            text += QStringLiteral("\nCoś odpowiada z innymi ustawieniami: %1.").arg(Described(l));
        Dialogs.ShowInformation(text);
        return;
    }
    const core::ScanFinding& found = scan.Findings.front();
    QString what = Described(found.Link);
    if (!found.Version.empty())
        what += QStringLiteral(" (%1, %2)")
                    .arg(QString::fromStdString(found.Version), QString::fromStdString(found.Diameter));
    if (!Dialogs.Ask(OKBottomDlg1,
                     QStringLiteral("Znaleziono przepływomierz: %1. Wpisać te ustawienia ?").arg(what)))
        return;
    if (const auto speed = modbus::SpeedIndex(found.Link.BaudRate))
        Speed->setItemIndex(static_cast<int>(*speed));
    Parity->setItemIndex(ParityItem(found.Link.Parity));
    MaskEdit6->setText(QString::number(found.Link.DeviceAddress));
    // Kept as leaving the page keeps them.
    if (!ConfigPath.isEmpty()) saveSettings();
}
