#pragma once

class QLabel;
class QPushButton;
class Ui_TitleSingleDialog;
class Ui_TitleSingleDialog4K;

// The confirm dialog's widgets, copied from whichever form was built. The widgets
// belong to the dialog through their Qt parent; only the form object is owned here.
struct TitleSingleDialogWidgets
{
    QLabel* label_title = nullptr;
    QPushButton* btnMenu_cancel = nullptr;
    QPushButton* btnMenu_confirm = nullptr;
    QLabel* label_back = nullptr;
    Ui_TitleSingleDialog* normalForm = nullptr;
    Ui_TitleSingleDialog4K* form4k = nullptr;
};
