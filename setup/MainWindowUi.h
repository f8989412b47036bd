#pragma once

class QLabel;
class QProgressBar;
class QPushButton;
class Ui_MainWindow;
class Ui_MainWindow4k;

// The progress window's widgets, copied from whichever form was built. The widgets
// belong to the window through their Qt parents; only the form object is owned here.
struct MainWindowUi
{
    QLabel* m_logo = nullptr;
    QLabel* label_background = nullptr;
    QLabel* m_progress_status = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* pushButtonClose = nullptr;
    Ui_MainWindow* normalForm = nullptr;
    Ui_MainWindow4k* form4k = nullptr;
};
