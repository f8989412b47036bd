#include "MainWindow.h"

#include "GlobalConfig.h"
#include "Locations.h"
#include "MainWindowUi.h"
#include "QuilmLog.h"
#include "RunningProgram.h"
#include "SystemRoot.h"
#include "Themes.h"
#include "UpgradeToolThread.h"
#include "ui_MainWindow.h"
#include "ui_MainWindow4k.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

template <typename Form>
void takeWidgets(MainWindowUi* ui, Form* form)
{
    ui->m_logo = form->m_logo;
    ui->label_background = form->label_background;
    ui->m_progress_status = form->m_progress_status;
    ui->m_progressBar = form->m_progressBar;
    ui->pushButtonClose = form->pushButtonClose;
}

QString byLanguage(const QString& english, const QString& chinese)
{
    return gConfig.language_type == 2 ? english : chinese;
}

QString installingText()
{
    return byLanguage(QStringLiteral("Installing..."), QStringLiteral("工具系统初始化中..."));
}

QString spaceErrorText()
{
    switch (gConfig.language_type) {
    case 1: return QStringLiteral("軟體所安裝的硬碟分割區剩餘空間不足，工具無法正常安裝!");
    case 2:
        return QStringLiteral("Insufficient space available on the volume, The tool\ncannot be installed properly.");
    default: return QStringLiteral("软件所安装的硬盘分区剩余空间不足，工具无法正常安装!");
    }
}

// The bar of the error state: the theme's track with a red chunk; other themes keep theirs.
QString errorBarStyleSheet()
{
    const Theme* theme = findTheme(gConfig.theme_type);
    if (!theme)
        return QString();
    const QString radius = gConfig.is_4k_screen == 1 ? QStringLiteral("16px") : QStringLiteral("8px");
    return QStringLiteral("QProgressBar { border-radius: %1; text-align: center;background-color: %2; } "
                          "QProgressBar::chunk { border-radius: %1;  background-color: #FF0000; }")
        .arg(radius, theme->errorBarTrack);
}

// A word the shell takes literally: left bare when it holds nothing the shell would
// interpret, else single-quoted, with embedded single quotes closed, escaped and reopened.
QString shellWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// An extended regular expression (pgrep's) that matches the command line of a process
// started by exactly one of these paths, and nothing that merely mentions them.
QString commandLinePattern(QStringList paths)
{
    static const QString special = QStringLiteral("\\.[]()*+?{}|^$");
    paths.removeDuplicates();
    QStringList alternatives;
    for (const QString& path : std::as_const(paths)) {
        QString escaped;
        for (const QChar c : path) {
            if (special.contains(c))
                escaped += QLatin1Char('\\');
            escaped += c;
        }
        alternatives << escaped;
    }
    return QStringLiteral("^(") + alternatives.join(QLatin1Char('|')) + QStringLiteral(")( |$)");
}

// The script waits for the program by its process id as well as by its command line,
// which the process list may show altered (control characters in the path).
QString selfDeleteScript(const QString& setupPath, qint64 processId, const QStringList& commandPaths,
                         const QString& logPath, const QString& scriptPath)
{
    const QString pattern = shellWord(commandLinePattern(commandPaths));
    const QString log = shellWord(logPath);
    const QStringList lines = {
        QStringLiteral("#!/bin/bash"),
        QStringLiteral("# 自删脚本：等待 Setup 进程退出后删除 Setup.app"),
        QStringLiteral("SETUP=") + shellWord(setupPath),
        QStringLiteral("SETUP_PID=") + QString::number(processId),
        QStringLiteral("for i in $(seq 1 30); do"),
        QStringLiteral("    if ! pgrep -f %1 >/dev/null 2>&1 && ! ps -p \"$SETUP_PID\" >/dev/null 2>&1; then")
            .arg(pattern),
        QStringLiteral("        break"),
        QStringLiteral("    fi"),
        QStringLiteral("    sleep 1"),
        QStringLiteral("done"),
        QStringLiteral("sleep 2   # 等文件句柄完全释放"),
        QStringLiteral("# 重试删除（最多 5 次）"),
        QStringLiteral("for r in $(seq 1 5); do"),
        QStringLiteral("    rm -rf \"$SETUP\" 2>/dev/null"),
        QStringLiteral("    if [ ! -d \"$SETUP\" ]; then"),
        QStringLiteral("        echo \"[selfdelete] ✅ 已删除 $SETUP\" >> %1").arg(log),
        QStringLiteral("        break"),
        QStringLiteral("    fi"),
        QStringLiteral("    echo \"[selfdelete] 第 $r 次重试...\" >> %1").arg(log),
        QStringLiteral("    pkill -9 -f %1 2>/dev/null || true").arg(pattern),
        QStringLiteral("    sleep 3"),
        QStringLiteral("done"),
        QStringLiteral("if [ -d \"$SETUP\" ]; then"),
        QStringLiteral("    echo \"[selfdelete] ⚠️ 删除失败: $SETUP\" >> %1").arg(log),
        QStringLiteral("fi"),
        QStringLiteral("rm -f ") + shellWord(scriptPath),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// Only a bundle whose Contents/MacOS holds the running program may be deleted, never the
// folder around a program started from a build tree or copied elsewhere.
bool isBundleOfRunningProgram(const QString& bundlePath)
{
    if (!bundlePath.endsWith(QStringLiteral(".app")))
        return false;
    const QFileInfo running(RunningProgram::instance().filePath());
    const QFileInfo inBundle(bundlePath + QStringLiteral("/Contents/MacOS/") + running.fileName());
    return inBundle.exists() && inBundle.canonicalFilePath() == running.canonicalFilePath();
}

// Started from "<name>.app/Contents/MacOS", judged by the names of the executable's path
// as start-up found it: the folders may no longer exist.
bool isStartedFromBundle()
{
    const QStringList parts = RunningProgram::instance().filePath().split(QLatin1Char('/'));
    const qsizetype n = parts.size();
    return n >= 4 && parts.at(n - 2) == QLatin1String("MacOS") && parts.at(n - 3) == QLatin1String("Contents")
           && parts.at(n - 4).size() > 4 && parts.at(n - 4).endsWith(QStringLiteral(".app"));
}

// The script's log lies in a folder that others write to: it is appended to only when it
// is a regular file of this user, reached without a link; it is made when missing.
bool isOwnLogFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat status;
    const bool own = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
    ::close(fd);
    return own;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent)
    , ui(new MainWindowUi)
    , upgradeThread(nullptr)
{
    if (gConfig.is_4k_screen == 1) {
        ui->form4k = new Ui_MainWindow4k;
        ui->form4k->setupUi(this);
        takeWidgets(ui, ui->form4k);
    } else {
        ui->normalForm = new Ui_MainWindow;
        ui->normalForm->setupUi(this);
        takeWidgets(ui, ui->normalForm);
    }
    ui->pushButtonClose->hide();

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowFlags(windowFlags() | Qt::Tool | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint);
    // The visible window, with its rounded corners, is label_background as the sheet paints it.
    setAttribute(Qt::WA_TranslucentBackground, true);
    setWindowTitle(tr("Salvix Engine"));

    ui->m_progress_status->setAlignment(Qt::AlignBottom);
    ui->m_progress_status->setText(
        gConfig.is_upgrade_tool ? installingText()
                                : byLanguage(QStringLiteral("Initializing..."), QStringLiteral("工具初始化中...")));

    upgradeThread = new UpgradeToolThread();
    connect(upgradeThread, &UpgradeToolThread::sendFinish, this, &MainWindow::onSendFinish);
    connect(upgradeThread, &UpgradeToolThread::sendProgress, this, &MainWindow::onSendProgress);
    connect(upgradeThread, &UpgradeToolThread::sendToUpgrade, this, &MainWindow::onSendToUpgrade);
    connect(upgradeThread, &UpgradeToolThread::sendToUpgradeStatus, this, &MainWindow::onSendToUpgradeStatus);
    connect(upgradeThread, &UpgradeToolThread::sendShowProgress, this, &MainWindow::onShowProgress);
    connect(ui->pushButtonClose, &QPushButton::clicked, this, &MainWindow::onCloseClicked);
    upgradeThread->start(QThread::InheritPriority);
}

MainWindow::~MainWindow()
{
    delete ui->normalForm;
    delete ui->form4k;
    delete ui;
    // The event loop has ended by now, so the worker outlives the window until the
    // process ends; it is never destroyed while it runs.
    if (upgradeThread) {
        upgradeThread->deleteLater();
        upgradeThread = nullptr;
    }
    QLOG_INFO() << "MainWindow::~MainWindow() called";
}

MainWindow* MainWindow::GetMainWindowPtr()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            return window;
    }
    return nullptr;
}

void MainWindow::onSendProgress(int total, int progress)
{
    int value = 100;
    if (progress < total)
        value = total > 0 ? progress * 100 / total : 0;
    ui->m_progressBar->setValue(value);
}

void MainWindow::onSendToUpgrade()
{
    ui->m_progress_status->setText(installingText());
}

void MainWindow::onShowProgress()
{
    show();
}

void MainWindow::onCloseClicked()
{
    QCoreApplication::exit(0);
}

void MainWindow::onSendToUpgradeStatus(int status)
{
    QLOG_INFO() << "MainWindow::onSendToUpgradeStatus called, and status:" << status;
    ui->pushButtonClose->show();
    ui->m_progress_status->setStyleSheet(QStringLiteral("color: #FF0000"));
    const QString bar = errorBarStyleSheet();
    if (!bar.isEmpty())
        ui->m_progressBar->setStyleSheet(bar);
    ui->m_progress_status->setText(spaceErrorText());
}

void MainWindow::onSendFinish(bool toolLaunched)
{
    const QString bundle = getMainFolder();
    if (QDir(bundle).exists()) {
        QProcess::execute(QStringLiteral("xattr"), {QStringLiteral("-cr"), bundle});
        QLOG_INFO() << "[MainWindow::onSendFinish] xattr -cr:" << bundle;
        if (toolLaunched) {
            QLOG_INFO() << "[MainWindow::onSendFinish] MASTER already launched by UpgradeToolThread, skip open";
        } else {
            QProcess::startDetached(QStringLiteral("open"),
                                    {bundle, QStringLiteral("--args"), bundle + QStringLiteral("/Contents/MacOS"),
                                     QStringLiteral("delete_upgrade_file")});
            QLOG_INFO() << "[MainWindow::onSendFinish] fallback launched MASTER:" << bundle;
        }
    } else {
        QLOG_WARN() << "[MainWindow::onSendFinish] MASTER app not found at:" << bundle;
    }
    scheduleSelfDelete();
    QCoreApplication::exit(0);
}

void MainWindow::scheduleSelfDelete()
{
    const RunningProgram& program = RunningProgram::instance();
    QDir dir(QFileInfo(program.filePath()).path());
    dir.cdUp();
    dir.cdUp();
    QString setupPath = dir.canonicalPath();
    const bool bundleExists = !setupPath.isEmpty();
    if (!bundleExists) {
        // The fixed place stands in only for a bundle that was moved or deleted, never
        // for the folders around a program that runs outside any bundle.
        if (!isStartedFromBundle()) {
            QLOG_WARN() << "[MainWindow::scheduleSelfDelete] not running from an application bundle, nothing deleted:"
                        << program.filePath();
            return;
        }
        setupPath = getLauncherAppPath();
    }
    QLOG_INFO() << "[MainWindow::scheduleSelfDelete] Setup path:" << setupPath;
    if (bundleExists && !isBundleOfRunningProgram(setupPath)) {
        QLOG_WARN() << "[MainWindow::scheduleSelfDelete] not running from an application bundle, nothing deleted:"
                    << setupPath;
        return;
    }

    const QString scriptPath = systemRootPath(QStringLiteral("/tmp/quilm_setup_selfdelete.sh"));
    if (QFile::exists(scriptPath))
        QFile::remove(scriptPath);
    // Created exclusively: whatever appears at this path after the removal (the folder
    // is writable by others) makes the open fail rather than being written and run.
    QFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        QLOG_WARN() << "[MainWindow::scheduleSelfDelete] failed to write script:" << script.errorString();
        return;
    }
    // The process list shows the program by the path it was started by, which may be
    // relative or lead through links; that path, where it names the program, as well as
    // the bundle's own.
    QStringList commandPaths{setupPath + QStringLiteral("/Contents/MacOS/") + QFileInfo(program.filePath()).fileName()};
    if (!program.startedAs().isEmpty())
        commandPaths << program.startedAs();
    QString logPath = systemRootPath(QStringLiteral("/tmp/quilm_selfdelete.log"));
    if (!isOwnLogFile(logPath)) {
        QLOG_WARN() << "[MainWindow::scheduleSelfDelete] script log is not this user's file, not written:" << logPath;
        logPath = QStringLiteral("/dev/null");
    }
    QTextStream out(&script);
    out << selfDeleteScript(setupPath, program.processId(), commandPaths, logPath, scriptPath);
    out.flush();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    script.close();

    QProcess::startDetached(QStringLiteral("/bin/bash"), {scriptPath});
    QLOG_INFO() << "[MainWindow::scheduleSelfDelete] self-delete script launched:" << scriptPath;
}
