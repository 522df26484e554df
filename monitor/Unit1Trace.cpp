// TForm1: the frame trace on "Diagnostyka": the log, its switches and saving it.
#include "monitor/Unit1.h"

#include "monitor/Dialogs.h"
#include "monitor/Messages.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>

#include <memory>
#include <stdexcept>

void TForm1::appendDiagnostics(const QString& line) {
    RichEdit1->appendPlainText(line);
    QScrollBar* bar = RichEdit1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TForm1::appendDiagnostics(const std::string& line) {
    appendDiagnostics(QString::fromStdString(line));
}

// --- trace ---

void TForm1::Button3Click() {
    DiagnosticsOn = true;
}

void TForm1::Button6Click() {
    DiagnosticsOn = false;
}

void TForm1::Button7Click() {
    RichEdit1->clear();
}

// The standard entries of a text field, and saving the log.
void TForm1::RichEdit1ContextPopup(const QPoint& pos) {
    const std::unique_ptr<QMenu> menu(RichEdit1->createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(SaveTrace1);
    // A scroll area reports the position in its viewport.
    menu->exec(RichEdit1->viewport()->mapToGlobal(pos));
}

// The lines shown, one per line, as UTF-8 text.
void TForm1::SaveTrace1Click() {
    QFileDialog dialog(this, QStringLiteral("Zapisz zapis diagnostyki"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Pliki tekstowe (*.txt)"), QStringLiteral("Wszystkie pliki (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("diagnostyka.txt"));
    const QString path = Dialogs.ExecuteFileDialog(&dialog);
    if (path.isEmpty()) return;

    QString text = RichEdit1->toPlainText();
    if (!text.isEmpty()) text += QLatin1Char('\n');
    const QByteArray bytes = text.toUtf8();
    // Written beside and renamed over: a failed write leaves an older file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(
            monitor::FileErrorText(QStringLiteral("Zapis"), path, file.errorString()).toStdString());
}
