#include "monitor/Unit2.h"

#include "monitor/Dialogs.h"
#include "monitor/ExportHost.h"
#include "monitor/FocusRing.h"
#include "monitor/JpegImage.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <stdexcept>

TForm2::TForm2(monitor::ExportHost& host, monitor::Dialogs& dialogs, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Host(host), Dialogs(dialogs) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Zapis danych z archiwum"));
    setFixedSize(350, 179);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 97, 97);
    QFile picture(QStringLiteral(":/monitor/archive.jpg"));
    if (picture.open(QIODevice::ReadOnly)) {
        const QImage image = monitor::DecodeJpeg(picture.readAll());
        if (!image.isNull()) Image1->setPixmap(QPixmap::fromImage(image));
    }

    Button2 = new QPushButton(QStringLiteral("Zapisz nowy plik"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(130, 16, 208, 36);
    Button1 = new QPushButton(QStringLiteral("Uaktualnij plik "), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(130, 62, 208, 36);
    Edit1 = new QLineEdit(QStringLiteral("C:\\archiwum.csv"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 130, 334, 26);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setModal(true);

    // Where the keyboard focus is, plainly: the style's own mark is faint.
    FocusRing1 = new monitor::FocusRing(this);

    connect(Button2, &QPushButton::clicked, this, [this] { Dialogs.Guarded([this] { Button2Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Dialogs.Guarded([this] { Button1Click(); }); });
}

TForm2::~TForm2() {
    // Before the buttons it frames, which move the focus as they go.
    delete FocusRing1;
    FocusRing1 = nullptr;
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // Esc closes it as its close button does.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    // Enter presses the button that has the focus, as in a dialog (a button
    // outside one lets Enter pass to its window).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
            button->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) Dialogs.Guarded([this] { FormShow(); });
}

void TForm2::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) Dialogs.Guarded([this] { FormHide(); });
}

QString TForm2::proposedName() const {
    // The address field as it stands, blanks included.
    return QStringLiteral("VQT540_nr") + Host.AddressText() + QStringLiteral("_1.csv");
}

void TForm2::FormShow() {
    // Over the main window, not wherever the system would put it.
    const QRect main = Host.MainFrame();
    move(main.center() - QPoint(width() / 2, height() / 2));
    const QString path = QDir::current().filePath(proposedName());
    Edit1->setText(QDir::toNativeSeparators(path));
    // An export of this meter already there is most likely to be brought up to date.
    (QFileInfo::exists(path) ? Button1 : Button2)->setFocus();
}

void TForm2::FormHide() {
    Host.ExportWindowHidden();
}

QString TForm2::chooseFile(const QString& title, const QString& name) {
    OpenDialog1->setWindowTitle(title);
    OpenDialog1->setDirectory(QDir::currentPath());
    OpenDialog1->setNameFilters({});
    OpenDialog1->setFileMode(QFileDialog::AnyFile); // a name that does not exist yet is taken too
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->selectFile(name);
    // An empty name selects nothing, and the dialog's name field would keep
    // the name of its previous use.
    if (name.isEmpty())
        if (auto* edit = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) edit->clear();
    return Dialogs.ExecuteFileDialog(OpenDialog1);
}

void TForm2::create(const QString& path) {
    const QString error = Host.CreateExportFile(path);
    if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
    hide();
}

void TForm2::update(const QString& path) {
    const QString error = Host.OpenExportFileForUpdate(path);
    if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
    hide();
}

// Writes the archive to a new file.
void TForm2::Button2Click() {
    const QString path = chooseFile(QStringLiteral("Podaj plik do zapisu"), proposedName());
    if (path.isEmpty()) return;
    Edit1->setText(path);
    const QString question = QFileInfo::exists(path) ? QStringLiteral("Plik istnieje. Zastąpić nowym ?")
                                                     : QStringLiteral("Plik nie istnieje. Utworzyć nowy ?");
    if (Host.AskAboutFile(question)) create(path);
}

// Adds the records newer than its last line to an existing export.
void TForm2::Button1Click() {
    const QString path = chooseFile(QStringLiteral("Znajdź plik"), QString());
    if (path.isEmpty()) return;
    Edit1->setText(path);
    if (!QFileInfo::exists(path)) {
        if (Host.AskAboutFile(QStringLiteral("Plik nie istnieje. Utworzyć nowy ?"))) create(path);
        return;
    }
    if (Host.AskAboutFile(QStringLiteral("Plik istnieje. Dopisać nowe dane ?")))
        update(path);
    else if (Host.AskAboutFile(QStringLiteral("Plik istnieje. Czy skasować zawartość ?")))
        create(path);
}
