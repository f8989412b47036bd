#pragma once

#include <QWidget>

struct MainWindowUi;
class UpgradeToolThread;

// The frameless progress window of Salvix Setup. It starts the upgrade worker, shows
// its progress and, once the worker is done, starts Salvix and removes Salvix Setup.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent);
    ~MainWindow() override;

    // The first top-level widget that is a MainWindow, or null.
    static MainWindow* GetMainWindowPtr();
    // Writes and starts the detached script that deletes this program's bundle once
    // the program has ended.
    static void scheduleSelfDelete();

protected slots:
    void onSendFinish(bool toolLaunched);
    void onSendProgress(int total, int progress);
    void onSendToUpgrade();
    void onSendToUpgradeStatus(int status);
    void onShowProgress();
    void onCloseClicked();

private:
    friend class MainWindowTestAccess;

    MainWindowUi* ui;
    UpgradeToolThread* upgradeThread;
};
