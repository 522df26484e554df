// The main window: the communication page, the device page, the frame trace
// and the chart of the flow.
//
// Every control is a private member under its own name (also its objectName):
// the window's own parts (the polling, the editing, the archive download) read
// and set them; from outside they are found by their names. Handlers are
// private slots, connected to user actions only, never to changes that the
// program makes, and each runs under the general error handler.
#pragma once

#include "monitor/ComboBoxes.h"
#include "monitor/ExportHost.h"
#include "monitor/PortList.h"

#include "core/ArchiveCycle.h"
#include "core/Editing.h"
#include "core/FlowHistory.h"
#include "core/LinkState.h"
#include "core/PollCycle.h"
#include "core/SettingsApply.h"
#include "core/StatusNotes.h"
#include "modbus/Link.h"
#include "modbus/Transaction.h"
#include "model/DevicePage.h"
#include "model/ParameterBlock.h"

#include <QHash>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

class QAction;
class QBoxLayout;
class QFrame;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class TOKBottomDlg1;
class TOKBottomDlg2;
namespace monitor {
class Dialogs;
class ElidedLabel;
class FlowChart;
class FocusRing;
class ResultLabel;
// The diagnostics log keeps this many lines; older lines go first.
inline constexpr int kDiagnosticsLineLimit = 20000;
} // namespace monitor
template <class Base> class CycleWindow;

class TForm1 : public QMainWindow, public monitor::ExportHost {
    Q_OBJECT
public:
    using DropDownBox = monitor::DropDownBox;
    using SimpleComboBox = monitor::SimpleComboBox;

    // The link and the dialogs are made in main and outlive the window.
    TForm1(modbus::Link& link, monitor::Dialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // The confirmation dialogs and the export window, created by the program
    // at start-up; the window only shows them.
    void setDialogs(TOKBottomDlg1* fileQuestion, TOKBottomDlg2* stopQuestion);
    void setExportWindow(QWidget* exportWindow);

    // The cycles, the current transaction and the reply counters.
    core::PollCycle& poll() { return *Poll; }
    core::ArchiveCycle& archiveCycle() { return *Archive; }
    const core::LinkState& link() const { return Link; }

    // The result line of the status bar.
    QString statusText() const;
    // Adds one line at the end of the trace log and keeps it in view.
    void appendDiagnostics(const QString& line);
    void appendDiagnostics(const std::string& line);
    // Lets the running or finished worker go: it stops waiting and ends.
    void releaseActiveRead();

private:
    friend class WindowFixture; // the tests' way to the state behind the controls
    template <class Base> friend class CycleWindow;

    // --- frame ---
    QTabWidget* PageControl1;
    QWidget* TabSheet2; // "Parametry komunikacji"
    QWidget* TabSheet3; // "Parametry VQT540"
    QWidget* TabSheet1; // "Diagnostyka"
    QWidget* TabSheet4; // "Wykres"
    QStatusBar* StatusBar1;
    QTimer* Timer1; // tick of the polling cycle
    QTimer* Timer2; // pause between polls
    QTimer* Timer3; // tick of the archive cycle
    QTimer* Timer4; // pacing between archive requests

    // --- "Parametry komunikacji" ---
    QLabel* Image1;
    QLabel* Panel4;
    QGroupBox* GroupBox4;
    QLabel* Panel2;
    QLabel* Panel3;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QLabel* StaticText1;
    QLabel* StaticText2;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* StaticText3;
    QLabel* Label18;
    QLabel* StaticText4;
    QLabel* StaticText5;
    DropDownBox* PortNr; // a monitor::PortBox: see ports()
    DropDownBox* Speed;
    DropDownBox* Parity;
    DropDownBox* StopBits;
    DropDownBox* ComboBox1;
    QLineEdit* MaskEdit6; // device address
    QLineEdit* Period;    // scan period [ms]
    QLineEdit* MaskEdit1; // reply time-out [ms]
    QPushButton* Button8; // "Szukaj przepływomierza"

    // --- "Parametry VQT540" ---
    QFrame* Bevel1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label14;
    QLabel* Label16;
    QLabel* Label17;
    QLabel* Label19;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLineEdit* Edit5;
    QLineEdit* Edit8;
    QLineEdit* MaskEdit2;
    QLineEdit* MaskEdit3;
    QLineEdit* MaskEdit4;
    QLineEdit* MaskEdit5;
    DropDownBox* ComboBox2;
    DropDownBox* ComboBox3;
    DropDownBox* ComboBox4;
    DropDownBox* ComboBox5;
    DropDownBox* ComboBox8;
    DropDownBox* ComboBox9;
    DropDownBox* ComboBox10;
    SimpleComboBox* ComboBox6;
    SimpleComboBox* ComboBox7;
    SimpleComboBox* ComboBox11;
    QPushButton* Button1;
    QPushButton* Button2;
    QGroupBox* GroupBox3;
    QListWidget* ListBox1;
    QFrame* Panel1;
    QPushButton* Button4;
    QPushButton* Button5;

    // --- "Diagnostyka" ---
    QPlainTextEdit* RichEdit1;
    QPushButton* Button3;
    QPushButton* Button7;
    QPushButton* Button6;
    QAction* SaveTrace1; // "Zapisz do pliku…" in the log's context menu

    // --- "Wykres" ---
    monitor::FlowChart* Chart1;
    QPushButton* Button12; // "Raport z pobranego archiwum": the last download's file
    QPushButton* Button11; // "Raport zużycia z pliku…"

    // A plain frame around whatever has the keyboard focus.
    monitor::FocusRing* FocusRing1 = nullptr;

    // --- state ---
    QString ConfigPath;         // formed when the window is first shown
    bool DiagnosticsOn = false; // transactions are traced
    // The current transaction, Connected, the tick counter and the reply
    // counters, shared by the polling and the archive download.
    core::LinkState Link;
    // The program's way to the meters.
    modbus::Link& ModbusLink;
    // The boxes, questions and file dialogs the window shows, and the error
    // handler its handlers run under.
    monitor::Dialogs& Dialogs;
    // Starts every transaction; a real worker unless a test replaces it.
    modbus::TransactionFactory Transactions;
    // The confirmation dialogs and the export window; see setDialogs.
    TOKBottomDlg1* OKBottomDlg1 = nullptr;
    TOKBottomDlg2* OKBottomDlg2 = nullptr;
    QWidget* Form2 = nullptr;
    // Under the result line: which meter, why the port fails, how old the
    // values are, the download's details, what the last download wrote.
    monitor::ElidedLabel* StatusDetails = nullptr;
    core::StatusNotes Notes;
    // The download's progress and, beside it, its text, while it runs.
    QProgressBar* ArchiveProgress = nullptr;
    QLabel* ArchiveProgressText = nullptr;
    // What was dropped and what waits to be written to the meter, beside
    // StatusDetails; hidden when nothing does.
    monitor::ElidedLabel* PendingWrites = nullptr;
    // How long a dropped write's message stays, if no good write ends it.
    static constexpr int kDroppedMessageMs = 20000;
    QTimer* DroppedTimer = nullptr;
    // The instantaneous flow of the last minutes, drawn by Chart1; filled by
    // the polling whatever page is shown.
    core::FlowHistory Flows;

    // The result line of the status bar.
    void setStatusText(const QString& text);
    // The status bar's second line from Notes, and what waits or was dropped.
    void showDetails();
    void showWrites(const QString& waiting, const QString& dropped);

    // --- polling and the device page ---
    // The meter's active alarms into ListBox1, one line per set bit.
    void setAlarms(uint8_t alarms);
    void showAlarms(const std::vector<std::string>& lines);
    // The range list of a DN index into ComboBox2 (none for an unknown index).
    void setRange(uint8_t dnIndex);
    // Shows a decoded good read on the device page.
    void showParameters(const model::DeviceView& decoded);
    // The device page as the window shows it first: no meter's values (the
    // values of another port or address go so).
    void showInitialValues();
    // The meter's values look live only while they are: paler, with the time
    // of the last good read in their tooltips, until the next one.
    void showValuesCurrent(bool current);
    // The controls whose value a write of the register changes.
    QList<QWidget*> controlsWriting(uint8_t reg) const;
    // Line codes of the Parity and StopBits lists.
    uint8_t getParity() const;
    uint8_t getStopBits() const;
    // What the communication page chose, unchecked.
    modbus::LinkChoice pageChoice() const;
    // The communication settings as the cycles use them, or why they cannot.
    platform::OrReason<modbus::LinkSettings> readLink();
    platform::OrReason<int32_t> readPeriod();
    platform::OrReason<int32_t> readTimeout();
    int32_t LastTimeoutMs = 1000; // the time-out field's last number
    // Each cycle's timers after a step of it: a tick timer runs while a
    // transaction is watched, started anew with each watch so that it ticks
    // from the transaction's start; a pause or pacing timer runs once, for
    // what is left of the wait.
    void followPoll();
    void followArchive();
    // Either cycle's pair: `wait` once for `msLeft` while the cycle waits,
    // else `tick`; neither without a next wake. `armed` is the wake they run for.
    void follow(std::optional<int64_t> next, bool waiting, QTimer& tick, QTimer& wait,
                std::optional<int64_t>& armed, int msLeft);
    std::optional<int64_t> PollWake, ArchiveWake; // the waits the timers run for

    // --- archive download ---
    // The fourteen controls that must not be used while the archive is handled.
    void DisableSettingControls();
    void EnableSettingControls();
    // What the export window asks of this one.
    QString AddressText() const override;
    QRect MainFrame() const override;
    bool AskAboutFile(const QString& question) override;
    QString CreateExportFile(const QString& path) override;
    QString OpenExportFileForUpdate(const QString& path) override;
    void ExportWindowHidden() override;

    // --- consumption report ---
    // The export file the last download wrote, for Button12.
    QString LastExportPath;
    void buildReportButtons(QBoxLayout* page);
    // The report window of an export file, over this one.
    void openReport(const QString& path);
    // A download wrote this file: its report is a click away.
    void exportWritten(const QString& path);

    // The ports present in PortNr, and each one's tooltip: where it leads
    // and whether it can be opened; refreshed when the list opens.
    void describePorts();
    // PortNr with its port-list functions.
    monitor::PortBox& ports() const { return static_cast<monitor::PortBox&>(*PortNr); }

private slots:
    // --- start-up and settings ---
    void FormShow();
    void TabSheet2Exit();
    void MaskEdit6Exit();
    void MaskEdit1Exit();
    // The user picked a port; "Inny port lub bramka…" asks for its name.
    void PortNrChange();

    // --- trace ---
    void Button3Click();
    void Button6Click();
    void Button7Click();
    void RichEdit1ContextPopup(const QPoint& pos);
    void SaveTrace1Click();

    // --- polling, editing and archive ---
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Button4Click();
    // Looks for the meter on the chosen port and offers what it finds for the page.
    void Button8Click();
    void Button5Click();
    void Button12Click();
    void Button11Click();
    void Button1Click();
    void Button2Click();
    void ComboBox2Change();
    void ComboBox3Change();
    void ComboBox4Change();
    void ComboBox5Change();
    void ComboBox6Change();
    void ComboBox7Change();
    void ComboBox8Change();
    void ComboBox9Change();
    void ComboBox10Change();
    void Edit8Enter();
    void Edit8Exit();
    void Edit8KeyPress(QKeyEvent* key);
    void MaskEdit4Enter();
    void MaskEdit4Exit();
    void MaskEdit4KeyPress(QKeyEvent* key);
    void MaskEdit5Enter();
    void MaskEdit5Exit();
    void MaskEdit5KeyPress(QKeyEvent* key);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Room kept around the window for its frame and title bar.
    static constexpr QSize kFrameAllowance{8, 34};
    void placeOnScreen();
    void keepOnScreen();
    void buildCommunicationPage();
    void buildStatusBar();
    void buildCommunicationFields();
    struct DeviceRow;
    DeviceRow makeDeviceRow(model::DeviceField field);
    void buildDevicePage();
    void buildDevicePageSide();
    void placeDeviceRows(std::span<const DeviceRow> rows);
    static void styleResetButton(QPushButton* button);
    void buildDiagnosticsPage();
    void buildChartPage();
    void connectHandlers();
    void onFocusChanged(QWidget* now);
    void undoTyping(QLineEdit* edit);
    void leaveCommunicationPage();
    void loadSettings();
    void saveSettings();
    std::string configPath() const;
    void setSettingControlsEnabled(bool enabled);

    class PollWindow;
    class ArchiveWindow;
    template <class Box> void queueChoice(Box* box, core::ListSetting setting);
    void queueReset(uint8_t firstRegister, std::string_view totaliser);
    void queueCutoff();
    void queueAlarm(int alarm);

    // --- settings files (Unit1SettingsFile.cpp) ---
    QPushButton* Button9 = nullptr;  // "Zapisz nastawy do pliku…"
    QPushButton* Button10 = nullptr; // "Wczytaj nastawy z pliku…"
    void buildSettingsButtons(QLayout* panel);
    void Button9Click();
    void Button10Click();
    // What the polling tells a settings file's writes while they run.
    void settingsRead(const model::MeterReading& reading);
    void settingsFailed(const std::string& result);
    void settingsStopped(const std::string& why);
    void settingsProgress();
    std::optional<model::MeterReading> SettingsReading; // the last good read, for saving
    std::unique_ptr<core::SettingsApply> SettingsLoad;  // while a file's writes run

    monitor::ResultLabel* StatusText = nullptr;
    QString DetailsTip; // the download's whole sentence
    QString WaitingText, DroppedText;
    QHash<QLineEdit*, QString> TextOnEntry; // what each field held when it was entered
    std::unique_ptr<PollWindow> PollView;   // before Poll: the cycle talks to it
    std::unique_ptr<core::PollCycle> Poll;
    std::unique_ptr<ArchiveWindow> ArchiveView; // before Archive: the cycle talks to it
    std::unique_ptr<core::ArchiveCycle> Archive;
    bool Shown = false;
    // The focus is on the communication page, or went from it to no widget
    // or to another window (a message box) and has not yet come back.
    bool FocusOnTabSheet2 = false;
};
