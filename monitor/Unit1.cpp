#include "monitor/Unit1.h"

#include "monitor/Dialogs.h"
#include "monitor/FocusRing.h"
#include "monitor/PageLook.h"
#include "monitor/StatusLabels.h"
#include "monitor/Unit1Views.h"

#include "modbus/Worker.h"
#include "monitor/Naming.h"
#include "monitor/Resources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

// Focus moves that are not the user leaving or entering a field: the window
// losing activation, a context menu or a message box opening.
bool isPassingFocus(const QEvent* event) {
    const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
           reason == Qt::MenuBarFocusReason;
}

} // namespace

TForm1::TForm1(modbus::Link& link, monitor::Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), ModbusLink(link), Dialogs(dialogs) {
    monitor::InitResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("VQT540 - Monitor"));
    setWindowIcon(QIcon(QStringLiteral(":/monitor/icon.png")));
    // The window holds fourteen rows and two columns in 698 x 530 pixels:
    // that takes a small face.
    QFont windowFont = font();
    if (windowFont.pointSizeF() > 8.0) windowFont.setPointSizeF(8.0);
    setFont(windowFont);

    PageControl1 = new QTabWidget(this);
    VQT_NAME(PageControl1);
    TabSheet2 = new QWidget;
    VQT_NAME(TabSheet2);
    TabSheet3 = new QWidget;
    VQT_NAME(TabSheet3);
    TabSheet1 = new QWidget;
    VQT_NAME(TabSheet1);
    TabSheet4 = new QWidget;
    VQT_NAME(TabSheet4);
    PageControl1->addTab(TabSheet2, QStringLiteral("Parametry komunikacji"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Parametry VQT540"));
    PageControl1->addTab(TabSheet1, QStringLiteral("Diagnostyka"));
    PageControl1->addTab(TabSheet4, QStringLiteral("Wykres"));
    setCentralWidget(PageControl1);

    buildStatusBar();

    const auto makeTimer = [this](const char* name, int interval) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(name));
        timer->setInterval(interval);
        timer->setTimerType(Qt::PreciseTimer); // ticks of 1 ms count time-outs
        return timer;
    };
    Timer1 = makeTimer("Timer1", 50);
    Timer2 = makeTimer("Timer2", 10);
    Timer3 = makeTimer("Timer3", 1);
    Timer4 = makeTimer("Timer4", 100);

    Transactions = ModbusLink.Factory();
    PollView = std::make_unique<PollWindow>(*this);
    // Through a lambda, so that a test can swap the factory at any time.
    const auto start = [this](const modbus::TransactionRequest& request) { return Transactions(request); };
    Poll = std::make_unique<core::PollCycle>(Link, start, *PollView);
    ArchiveView = std::make_unique<ArchiveWindow>(*this);
    Archive =
        std::make_unique<core::ArchiveCycle>(Link, start, *ArchiveView, [this] { Poll->StopForArchive(); });

    buildCommunicationPage();
    buildDevicePage();
    buildDiagnosticsPage();
    buildChartPage();
    connectHandlers();
    // The diameter the device page starts with: the first read brings a range
    // list only for another one.
    Poll->ShownDn = Poll->InitialDn = Edit2->text().toStdString();

    FocusRing1 = new monitor::FocusRing(this);
    PageControl1->setCurrentWidget(TabSheet3);
    placeOnScreen();
}

// 698 x 530, the least the pages need, in the middle of the primary screen's
// free area. Where that area is smaller (a laptop's screen at twice the
// scale), the window takes what there is, and its pages scroll.
void TForm1::placeOnScreen() {
    const QSize wanted(698, 530);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), wanted + kFrameAllowance);
    const QSize size = wanted.boundedTo(area.size() - kFrameAllowance);
    if (size != wanted) {
        auto* scroll = new QScrollArea(this);
        scroll->setObjectName(QStringLiteral("PageScroll"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setWidget(takeCentralWidget());
        setCentralWidget(scroll);
    }
    setMinimumSize(size);
    resize(size);
    const QSize outer = size + kFrameAllowance;
    move(area.x() + std::max(0, (area.width() - outer.width()) / 2),
         area.y() + std::max(0, (area.height() - outer.height()) / 2));
}

// The frame the system gave may be larger than allowed for: the title bar
// stays on the screen.
void TForm1::keepOnScreen() {
    QScreen* screen = this->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    QPoint at = frame.topLeft();
    if (frame.right() > area.right()) at.setX(area.right() - frame.width() + 1);
    if (frame.bottom() > area.bottom()) at.setY(area.bottom() - frame.height() + 1);
    at.setX(std::max(at.x(), area.left()));
    at.setY(std::max(at.y(), area.top()));
    if (at != frame.topLeft()) move(at);
}

// Two lines: the result line alone, so that both its counters always show,
// and under it what it leaves out: which meter or why not, what waits to be
// written or was dropped, the download's bar.
void TForm1::buildStatusBar() {
    StatusBar1 = new QStatusBar(this);
    VQT_NAME(StatusBar1);
    auto* lines = new QWidget(StatusBar1);
    auto* rows = new QVBoxLayout(lines);
    rows->setContentsMargins(2, 0, 2, 1);
    rows->setSpacing(0);
    StatusText = new monitor::ResultLabel(lines);
    StatusText->setObjectName(QStringLiteral("StatusBar1Text"));
    rows->addWidget(StatusText);

    // A hidden label takes no room: the others share it.
    auto* second = new QHBoxLayout;
    second->setSpacing(10);
    rows->addLayout(second);
    StatusDetails = new monitor::ElidedLabel(lines);
    VQT_NAME(StatusDetails);
    second->addWidget(StatusDetails, 1);
    PendingWrites = new monitor::ElidedLabel(lines);
    VQT_NAME(PendingWrites);
    monitor::setColor(PendingWrites, QPalette::WindowText, QColor(0x8a, 0x4b, 0x00));
    monitor::setBold(PendingWrites);
    PendingWrites->hide();
    second->addWidget(PendingWrites, 1);
    // The bar's text beside it, where its fill cannot cover it.
    ArchiveProgressText = new QLabel(lines);
    VQT_NAME(ArchiveProgressText);
    ArchiveProgressText->hide();
    second->addWidget(ArchiveProgressText);
    ArchiveProgress = new QProgressBar(lines);
    VQT_NAME(ArchiveProgress);
    ArchiveProgress->setFixedSize(80, 12);
    ArchiveProgress->setTextVisible(false);
    ArchiveProgress->hide();
    second->addWidget(ArchiveProgress);
    StatusBar1->addWidget(lines, 1);
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);

    // A dropped write's message goes after a while, if no write has taken it away.
    DroppedTimer = new QTimer(this);
    DroppedTimer->setSingleShot(true);
    DroppedTimer->setInterval(kDroppedMessageMs);
    connect(DroppedTimer, &QTimer::timeout, this, [this] { showWrites(WaitingText, {}); });
    setStatusText(QString::fromUtf8(core::kInitialStatusText.data(),
                                    static_cast<qsizetype>(core::kInitialStatusText.size())));
}

void TForm1::showWrites(const QString& waiting, const QString& dropped) {
    WaitingText = waiting;
    if (DroppedText != dropped) {
        DroppedText = dropped;
        if (dropped.isEmpty())
            DroppedTimer->stop();
        else
            DroppedTimer->start();
    }
    const QString text = DroppedText.isEmpty() || WaitingText.isEmpty()
                             ? DroppedText + WaitingText
                             : DroppedText + QLatin1Char(' ') + WaitingText;
    PendingWrites->setText(text);
    PendingWrites->setVisible(!text.isEmpty());
}

void TForm1::showDetails() {
    StatusDetails->setText(QString::fromStdString(core::DetailsLine(Notes)), DetailsTip);
    // Why the meter does not answer stands out from the rest.
    const bool problem =
        Notes.Download.empty() && (!Notes.PortProblem.empty() || (Notes.Meter && Notes.Unanswered));
    monitor::setColor(StatusDetails, QPalette::WindowText,
                      problem ? QColor(0xa0, 0, 0) : palette().color(QPalette::WindowText));
    QFont font = StatusDetails->font();
    font.setBold(problem);
    StatusDetails->setFont(font);
}

TForm1::~TForm1() {
    // Before the widgets it frames, which move the focus as they go.
    delete FocusRing1;
    FocusRing1 = nullptr;
    // The children are deleted by QWidget's destructor, moving the focus:
    // that must no longer reach this (by then destroyed) part of the window.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(PageControl1, nullptr, this, nullptr);
    // A window destroyed without being closed must not leave a worker waiting.
    releaseActiveRead();
}
void TForm1::connectHandlers() {
    // Every handler runs under the general error handler: an error stops the
    // handler, is shown, and the window goes on.
    const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { Dialogs.Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    on(Timer2, &QTimer::timeout, &TForm1::Timer2Timer);
    on(Timer3, &QTimer::timeout, &TForm1::Timer3Timer);
    on(Timer4, &QTimer::timeout, &TForm1::Timer4Timer);
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    on(Button3, &QPushButton::clicked, &TForm1::Button3Click);
    on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    on(Button5, &QPushButton::clicked, &TForm1::Button5Click);
    on(Button6, &QPushButton::clicked, &TForm1::Button6Click);
    on(Button7, &QPushButton::clicked, &TForm1::Button7Click);
    on(Button8, &QPushButton::clicked, &TForm1::Button8Click);
    on(Button9, &QPushButton::clicked, &TForm1::Button9Click);
    on(Button10, &QPushButton::clicked, &TForm1::Button10Click);
    on(SaveTrace1, &QAction::triggered, &TForm1::SaveTrace1Click);
    on(PortNr, &DropDownBox::aboutToShowPopup, &TForm1::describePorts);
    connect(RichEdit1, &QPlainTextEdit::customContextMenuRequested, this,
            [this](const QPoint& pos) { Dialogs.Guarded([this, pos] { RichEdit1ContextPopup(pos); }); });
    on(ComboBox2, &DropDownBox::userChanged, &TForm1::ComboBox2Change);
    on(ComboBox3, &DropDownBox::userChanged, &TForm1::ComboBox3Change);
    on(ComboBox4, &DropDownBox::userChanged, &TForm1::ComboBox4Change);
    on(ComboBox5, &DropDownBox::userChanged, &TForm1::ComboBox5Change);
    on(ComboBox6, &SimpleComboBox::userChanged, &TForm1::ComboBox6Change);
    on(ComboBox7, &SimpleComboBox::userChanged, &TForm1::ComboBox7Change);
    on(ComboBox8, &DropDownBox::userChanged, &TForm1::ComboBox8Change);
    on(ComboBox9, &DropDownBox::userChanged, &TForm1::ComboBox9Change);
    on(ComboBox10, &DropDownBox::userChanged, &TForm1::ComboBox10Change);

    // Enter, leave and key handlers of the fields, and Esc (eventFilter).
    for (QLineEdit* edit : {Edit8, MaskEdit4, MaskEdit5, MaskEdit6, Period, MaskEdit1})
        edit->installEventFilter(this);
    // Only a field the user typed in is written when left.
    using Field = core::PollCycle::Field;
    const std::pair<QLineEdit*, Field> typed[] = {
        {Edit8, Field::Cutoff}, {MaskEdit4, Field::Alarm1}, {MaskEdit5, Field::Alarm2}};
    for (const auto& [edit, field] : typed)
        connect(edit, &QLineEdit::textEdited, this, [this, field = field] { Poll->FieldTyped(field); });
    // Leaving the communication page, wherever the focus was on it.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { onFocusChanged(now); });
    // A box opened by a field's leave handler takes the focus in the middle
    // of a page switch; the switch itself then says the page was left.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (PageControl1->widget(index) != TabSheet2) leaveCommunicationPage();
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    using Handler = void (TForm1::*)();
    const auto run = [this](Handler handler) { Dialogs.Guarded([this, handler] { (this->*handler)(); }); };
    switch (event->type()) {
    case QEvent::FocusIn:
        if (isPassingFocus(event)) break;
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) TextOnEntry[edit] = edit->text();
        if (watched == Edit8) run(&TForm1::Edit8Enter);
        if (watched == MaskEdit4) run(&TForm1::MaskEdit4Enter);
        if (watched == MaskEdit5) run(&TForm1::MaskEdit5Enter);
        break;
    case QEvent::FocusOut:
        if (isPassingFocus(event)) break;
        if (watched == Edit8) run(&TForm1::Edit8Exit);
        if (watched == MaskEdit4) run(&TForm1::MaskEdit4Exit);
        if (watched == MaskEdit5) run(&TForm1::MaskEdit5Exit);
        if (watched == MaskEdit6) run(&TForm1::MaskEdit6Exit);
        if (watched == MaskEdit1) run(&TForm1::MaskEdit1Exit);
        break;
    case QEvent::KeyPress: {
        // The key goes on to the field whatever the handler does.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) undoTyping(qobject_cast<QLineEdit*>(watched));
        if (watched == Edit8) Dialogs.Guarded([this, key] { Edit8KeyPress(key); });
        if (watched == MaskEdit4) Dialogs.Guarded([this, key] { MaskEdit4KeyPress(key); });
        if (watched == MaskEdit5) Dialogs.Guarded([this, key] { MaskEdit5KeyPress(key); });
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

// Esc puts back what the field held when it was entered: leaving it then
// writes nothing.
void TForm1::undoTyping(QLineEdit* edit) {
    const auto entry = TextOnEntry.find(edit);
    if (!edit || entry == TextOnEntry.end() || edit->text() == *entry) return;
    edit->setText(*entry);
    using Field = core::PollCycle::Field;
    if (edit == Edit8) Poll->FieldUntyped(Field::Cutoff);
    if (edit == MaskEdit4) Poll->FieldUntyped(Field::Alarm1);
    if (edit == MaskEdit5) Poll->FieldUntyped(Field::Alarm2);
}

void TForm1::onFocusChanged(QWidget* now) {
    // Qt sends the field's FocusOut before this signal, so the field's own
    // leave handler has run when the page's runs. Focus going to no widget or
    // to another window (a message box, another program) does not leave the
    // page: the page is left when the focus comes back elsewhere in the window.
    if (!now || now->window() != this) return;
    if (TabSheet2->isAncestorOf(now))
        FocusOnTabSheet2 = true;
    else
        leaveCommunicationPage();
}

void TForm1::leaveCommunicationPage() {
    if (!FocusOnTabSheet2) return;
    FocusOnTabSheet2 = false;
    Dialogs.Guarded([this] { TabSheet2Exit(); });
}

void TForm1::showEvent(QShowEvent* event) {
    if (!Shown && !event->spontaneous()) {
        Shown = true;
        Dialogs.Guarded([this] { FormShow(); });
        QTimer::singleShot(0, this, [this] { keepOnScreen(); }); // once the frame is known
    }
    QMainWindow::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A download is not thrown away by one click: first the questions of a
    // stop, and "NIE" keeps the window open.
    bool close = true;
    Dialogs.Guarded([this, &close] { close = Archive->CloseRequested(); });
    if (!close) {
        event->ignore();
        return;
    }
    // Nothing else is saved; a transaction in flight is given up.
    FocusOnTabSheet2 = false;
    for (QTimer* timer : {Timer1, Timer2, Timer3, Timer4}) timer->stop();
    releaseActiveRead();
    if (Form2) Form2->hide();
    QMainWindow::closeEvent(event);
}

void TForm1::releaseActiveRead() {
    Link.EndTransaction();
}

void TForm1::setStatusText(const QString& text) {
    StatusText->setText(text);
    StatusText->setToolTip(text);
}

QString TForm1::statusText() const {
    return StatusText->text();
}
