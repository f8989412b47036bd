#pragma once

#include <QDialog>
#include <QPoint>
#include <QStringList>

struct TitleSingleDialogWidgets;

// A frameless yes-or-no dialog. doModalByTopLevel waits for the answer by polling the
// event queue rather than running a nested event loop.
class TitleSingleDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TitleSingleDialog(QWidget* parent);
    ~TitleSingleDialog() override;

    // Shows the dialog modal and returns 1 after confirm, 0 after cancel. With mask set
    // the dialog takes the object name "MaskWidget".
    int doModalByTopLevel(const QString& title, const QString& confirmText, const QString& cancelText, bool mask);

signals:
    void sigCofirmClicked();
    void sigCancelClicked();

public slots:
    void onButtonConfirmClicked();
    void onButtonCancelClicked();
    void setMainWidget(QWidget* mainWidget);
    // Keeps the names for callers that set them; nothing here reads them.
    void setDialogNames(const QStringList& dialogNames);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    TitleSingleDialogWidgets* widgets;
    QPoint dragOffset;
    bool leftButtonDown;
    // Off: the buttons end the dialog. On: they emit the two signals instead.
    bool signalMode;
    QWidget* mainWidget;
    QStringList dialogNames;
};
