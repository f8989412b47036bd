#include "TitleSingleDialog.h"

#include "GlobalConfig.h"
#include "MainWindow.h"
#include "TitleSingleDialogWidgets.h"
#include "ui_TitleSingleDialog.h"
#include "ui_TitleSingleDialog4K.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>

namespace {

template <typename Form>
void takeWidgets(TitleSingleDialogWidgets* widgets, Form* form)
{
    widgets->label_title = form->label_title;
    widgets->btnMenu_cancel = form->btnMenu_cancel;
    widgets->btnMenu_confirm = form->btnMenu_confirm;
    widgets->label_back = form->label_back;
}

} // namespace

TitleSingleDialog::TitleSingleDialog(QWidget* parent)
    : QDialog(parent)
    , widgets(new TitleSingleDialogWidgets)
    , leftButtonDown(false)
    , signalMode(false)
    , mainWidget(nullptr)
{
    if (gConfig.is_4k_screen == 1) {
        widgets->form4k = new Ui_TitleSingleDialog4K;
        widgets->form4k->setupUi(this);
        takeWidgets(widgets, widgets->form4k);
    } else {
        widgets->normalForm = new Ui_TitleSingleDialog;
        widgets->normalForm->setupUi(this);
        takeWidgets(widgets, widgets->normalForm);
    }

    setWindowFlags(windowFlags() | Qt::Dialog | Qt::FramelessWindowHint);
    // The visible dialog, with its rounded corners, is label_back as the sheet paints it.
    setAttribute(Qt::WA_TranslucentBackground, true);
    setWindowTitle(QStringLiteral("Salvix"));
    setFocus(Qt::OtherFocusReason);

    connect(widgets->btnMenu_confirm, &QPushButton::clicked, this, &TitleSingleDialog::onButtonConfirmClicked);
    connect(widgets->btnMenu_cancel, &QPushButton::clicked, this, &TitleSingleDialog::onButtonCancelClicked);
}

TitleSingleDialog::~TitleSingleDialog()
{
    delete widgets->normalForm;
    delete widgets->form4k;
    delete widgets;
}

int TitleSingleDialog::doModalByTopLevel(const QString& title, const QString& confirmText, const QString& cancelText,
                                         bool mask)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    widgets->label_title->setText(title);
    widgets->btnMenu_confirm->setText(confirmText);
    widgets->btnMenu_cancel->setText(cancelText);
    if (mask)
        setObjectName(QStringLiteral("MaskWidget"));
    signalMode = false;

    setModal(true);
    show();
    activateWindow();
    // Start-up asks before any event loop runs; polling keeps the dialog alive without
    // nesting one.
    while (isVisible()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(50);
    }
    return result();
}

void TitleSingleDialog::onButtonConfirmClicked()
{
    if (!signalMode) {
        accept();
        return;
    }
    hide();
    emit sigCofirmClicked();
}

void TitleSingleDialog::onButtonCancelClicked()
{
    if (!signalMode) {
        reject();
        return;
    }
    emit sigCancelClicked();
    close();
}

void TitleSingleDialog::setMainWidget(QWidget* widget)
{
    if (mainWidget != widget)
        mainWidget = widget;
}

void TitleSingleDialog::setDialogNames(const QStringList& names)
{
    if (dialogNames != names)
        dialogNames = names;
}

void TitleSingleDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    leftButtonDown = true;
    dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void TitleSingleDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (!leftButtonDown || !(event->buttons() & Qt::LeftButton))
        return;
    move(event->globalPosition().toPoint() - dragOffset);
    event->accept();
}

void TitleSingleDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    leftButtonDown = false;
    event->accept();
}

void TitleSingleDialog::keyPressEvent(QKeyEvent* event)
{
    // The question needs an answer by button: no key cancels or confirms it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: event->ignore(); return;
    default: QDialog::keyPressEvent(event);
    }
}

void TitleSingleDialog::showEvent(QShowEvent* event)
{
    mainWidget = MainWindow::GetMainWindowPtr();
    if (mainWidget) {
        const QPoint centre = mainWidget->geometry().center();
        move(centre.x() - width() / 2, centre.y() - height() / 2);
    }
    QDialog::showEvent(event);
}
