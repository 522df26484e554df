// The main window's controls, found by their object names as a user's tool
// finds them: the tests' way to the window's face.
#pragma once

#include "monitor/ComboBoxes.h"
#include "monitor/FlowChart.h"
#include "monitor/FocusRing.h"
#include "monitor/StatusLabels.h"

#include <QAction>
#include <QByteArray>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

// Each control of the main window by its type and name.
#define VQT_FORM1_CONTROLS(X)                                                                                \
    X(QTabWidget, PageControl1)                                                                              \
    X(QWidget, TabSheet2)                                                                                    \
    X(QWidget, TabSheet3)                                                                                    \
    X(QWidget, TabSheet1)                                                                                    \
    X(QWidget, TabSheet4)                                                                                    \
    X(QStatusBar, StatusBar1)                                                                                \
    X(QTimer, Timer1)                                                                                        \
    X(QTimer, Timer2)                                                                                        \
    X(QTimer, Timer3)                                                                                        \
    X(QTimer, Timer4)                                                                                        \
    X(QLabel, Image1)                                                                                        \
    X(QLabel, Panel4)                                                                                        \
    X(QGroupBox, GroupBox4)                                                                                  \
    X(QLabel, Panel2)                                                                                        \
    X(QLabel, Panel3)                                                                                        \
    X(QGroupBox, GroupBox1)                                                                                  \
    X(QGroupBox, GroupBox2)                                                                                  \
    X(QLabel, StaticText1)                                                                                   \
    X(QLabel, StaticText2)                                                                                   \
    X(QLabel, Label1)                                                                                        \
    X(QLabel, Label2)                                                                                        \
    X(QLabel, StaticText3)                                                                                   \
    X(QLabel, Label18)                                                                                       \
    X(QLabel, StaticText4)                                                                                   \
    X(QLabel, StaticText5)                                                                                   \
    X(monitor::DropDownBox, PortNr)                                                                          \
    X(monitor::DropDownBox, Speed)                                                                           \
    X(monitor::DropDownBox, Parity)                                                                          \
    X(monitor::DropDownBox, StopBits)                                                                        \
    X(monitor::DropDownBox, ComboBox1)                                                                       \
    X(QLineEdit, MaskEdit6)                                                                                  \
    X(QLineEdit, Period)                                                                                     \
    X(QLineEdit, MaskEdit1)                                                                                  \
    X(QPushButton, Button8)                                                                                  \
    X(QFrame, Bevel1)                                                                                        \
    X(QLabel, Label3)                                                                                        \
    X(QLabel, Label4)                                                                                        \
    X(QLabel, Label5)                                                                                        \
    X(QLabel, Label6)                                                                                        \
    X(QLabel, Label7)                                                                                        \
    X(QLabel, Label8)                                                                                        \
    X(QLabel, Label9)                                                                                        \
    X(QLabel, Label11)                                                                                       \
    X(QLabel, Label12)                                                                                       \
    X(QLabel, Label13)                                                                                       \
    X(QLabel, Label14)                                                                                       \
    X(QLabel, Label16)                                                                                       \
    X(QLabel, Label17)                                                                                       \
    X(QLabel, Label19)                                                                                       \
    X(QLineEdit, Edit1)                                                                                      \
    X(QLineEdit, Edit2)                                                                                      \
    X(QLineEdit, Edit3)                                                                                      \
    X(QLineEdit, Edit4)                                                                                      \
    X(QLineEdit, Edit5)                                                                                      \
    X(QLineEdit, Edit8)                                                                                      \
    X(QLineEdit, MaskEdit2)                                                                                  \
    X(QLineEdit, MaskEdit3)                                                                                  \
    X(QLineEdit, MaskEdit4)                                                                                  \
    X(QLineEdit, MaskEdit5)                                                                                  \
    X(monitor::DropDownBox, ComboBox2)                                                                       \
    X(monitor::DropDownBox, ComboBox3)                                                                       \
    X(monitor::DropDownBox, ComboBox4)                                                                       \
    X(monitor::DropDownBox, ComboBox5)                                                                       \
    X(monitor::DropDownBox, ComboBox8)                                                                       \
    X(monitor::DropDownBox, ComboBox9)                                                                       \
    X(monitor::DropDownBox, ComboBox10)                                                                      \
    X(monitor::SimpleComboBox, ComboBox6)                                                                    \
    X(monitor::SimpleComboBox, ComboBox7)                                                                    \
    X(monitor::SimpleComboBox, ComboBox11)                                                                   \
    X(QPushButton, Button1)                                                                                  \
    X(QPushButton, Button2)                                                                                  \
    X(QGroupBox, GroupBox3)                                                                                  \
    X(QListWidget, ListBox1)                                                                                 \
    X(QFrame, Panel1)                                                                                        \
    X(QPushButton, Button4)                                                                                  \
    X(QPushButton, Button5)                                                                                  \
    X(QPlainTextEdit, RichEdit1)                                                                             \
    X(QPushButton, Button3)                                                                                  \
    X(QPushButton, Button7)                                                                                  \
    X(QPushButton, Button6)                                                                                  \
    X(QAction, SaveTrace1)                                                                                   \
    X(monitor::FlowChart, Chart1)                                                                            \
    X(QPushButton, Button12)                                                                                 \
    X(QPushButton, Button11)                                                                                 \
    X(monitor::ElidedLabel, StatusDetails)                                                                   \
    X(monitor::ElidedLabel, PendingWrites)                                                                   \
    X(QProgressBar, ArchiveProgress)                                                                         \
    X(QLabel, ArchiveProgressText)

// The control of that name that belongs to the window itself, not to one of
// its dialogs (whose own Label1 has the same name); a missing one ends the test.
template <class T> T* findControl(QWidget& window, const char* name) {
    for (T* found : window.findChildren<T*>(QString::fromLatin1(name))) {
        auto* widget = qobject_cast<QWidget*>(found);
        if (!widget || widget->window() == &window) return found;
    }
    std::fprintf(stderr, "The window has no control %s.\n", name);
    std::abort();
}

struct Form1Controls {
#define VQT_DECLARE(Type, Name) Type* Name = nullptr;
    VQT_FORM1_CONTROLS(VQT_DECLARE)
#undef VQT_DECLARE
    monitor::FocusRing* FocusRing1 = nullptr;

    Form1Controls() = default;
    explicit Form1Controls(QWidget& window) {
#define VQT_FIND(Type, Name) Name = findControl<Type>(window, #Name);
        VQT_FORM1_CONTROLS(VQT_FIND)
#undef VQT_FIND
        FocusRing1 = findControl<monitor::FocusRing>(window, "FocusRing");
    }
};
