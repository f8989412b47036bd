// The progress window: its forms, texts, progress, error state and finish, each in a
// sandbox with recording stubs for "xattr" and "open" first on the search path.
#include "LogCapture.h"
#include "WindowFixture.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace WindowFixture;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void forms_data();
    void forms();
    void construction();
    void statusTexts_data();
    void statusTexts();
    void progress_data();
    void progress();
    void progressRendering_data();
    void progressRendering();
    void errorState_data();
    void errorState();
    void errorText_data();
    void errorText();
    void finish_data();
    void finish();
    void closeButtonEndsTheLoop();
    void showAndLookUp();

private:
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<Stubs> m_stubs;
};

void TestMainWindow::initTestCase()
{
    LogCapture::install();
    loadApplicationFont();
}

void TestMainWindow::init()
{
    gConfig = GlobalConfig();
    m_sandbox = std::make_unique<Sandbox>();
    QVERIFY(m_sandbox->isValid());
    m_stubs = std::make_unique<Stubs>(m_sandbox->path() + QStringLiteral("/stubs"));
    qApp->setStyleSheet(QString());
}

void TestMainWindow::cleanup()
{
    m_stubs.reset();
    m_sandbox.reset();
    LogCapture::flush();
}

void TestMainWindow::forms_data()
{
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");

    const struct
    {
        const char* name;
        const char* className;
        QRect normal;
    } rows[] = {
        {"centralwidget", "QWidget", QRect(0, 0, 600, 220)},
        {"m_progressBar", "QProgressBar", QRect(25, 170, 552, 32)},
        {"m_logo", "QLabel", QRect(198, 20, 205, 64)},
        {"m_progress_status", "QLabel", QRect(25, 104, 552, 50)},
        {"label_background", "QLabel", QRect(0, 0, 600, 220)},
        {"pushButtonClose", "QPushButton", QRect(556, 20, 24, 24)},
    };
    for (const auto& row : rows) {
        const QRect& r = row.normal;
        QTest::addRow("normal %s", row.name) << 0 << row.name << row.className << r;
        QTest::addRow("4K %s", row.name) << 1 << row.name << row.className
                                         << QRect(r.x() * 2, r.y() * 2, r.width() * 2, r.height() * 2);
    }
}

void TestMainWindow::forms()
{
    QFETCH(int, is4k);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);

    gConfig.is_4k_screen = is4k;
    const auto window = quietWindow(*m_sandbox);
    QCOMPARE(window->objectName(), is4k ? QStringLiteral("MainWindow4k") : QStringLiteral("MainWindow"));
    QCOMPARE(window->size(), is4k ? QSize(1200, 440) : QSize(600, 220));

    auto* widget = window->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    QWidget* central = window->findChild<QWidget*>(QStringLiteral("centralwidget"));
    QCOMPARE(widget->parentWidget(), name == QStringLiteral("centralwidget") ? window.get() : central);

    // Lowest first: the background under everything, the close button on top.
    QStringList stacking;
    for (QObject* child : central->children())
        stacking << child->objectName();
    QCOMPARE(stacking,
             QStringList({"label_background", "m_progressBar", "m_logo", "m_progress_status", "pushButtonClose"}));

    MainWindowUi* ui = MainWindowTestAccess::ui(window.get());
    QCOMPARE(ui->normalForm != nullptr, is4k == 0);
    QCOMPARE(ui->form4k != nullptr, is4k == 1);
}

void TestMainWindow::construction()
{
    const auto window = quietWindow(*m_sandbox);
    QCOMPARE(window->windowTitle(), QStringLiteral("Salvix Engine"));
    QCOMPARE(window->windowFlags(), Qt::Dialog | Qt::FramelessWindowHint | Qt::Tool | Qt::WindowSystemMenuHint
                                        | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                                        | Qt::WindowStaysOnTopHint);
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));

    MainWindowUi* ui = MainWindowTestAccess::ui(window.get());
    QCOMPARE(ui->m_progress_status->alignment(), Qt::Alignment(Qt::AlignBottom));
    QCOMPARE(ui->m_progressBar->value(), 0);
    QCOMPARE(ui->m_progressBar->format(), QString());

    // Translucent outside the background's rounded corners; nothing of the close button.
    applyTheme(0, 0);
    window->show();
    const QImage shot = render(window.get());
    QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
    const QRgb background = shot.pixel(100, 60);
    QCOMPARE(QColor(background), QColor(0xFDFEFE));
    QCOMPARE(
        countPixels(shot, ui->pushButtonClose->geometry(), [&](QRgb p) { return colourDistance(p, background) > 30; }),
        0);
}

void TestMainWindow::statusTexts_data()
{
    QTest::addColumn<bool>("upgradeTool");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("installing");

    const QString zhInit = QStringLiteral("工具初始化中...");
    const QString zhInstall = QStringLiteral("工具系统初始化中...");
    for (int language : {0, 1, 2}) {
        const bool english = language == 2;
        QTest::addRow("install, language %d", language)
            << false << language << (english ? QStringLiteral("Initializing...") : zhInit)
            << (english ? QStringLiteral("Installing...") : zhInstall);
        QTest::addRow("upgrade, language %d", language)
            << true << language << (english ? QStringLiteral("Installing...") : zhInstall)
            << (english ? QStringLiteral("Installing...") : zhInstall);
    }
}

void TestMainWindow::statusTexts()
{
    QFETCH(bool, upgradeTool);
    QFETCH(int, language);
    QFETCH(QString, first);
    QFETCH(QString, installing);

    gConfig.is_upgrade_tool = upgradeTool;
    gConfig.language_type = language;
    const auto window = quietWindow(*m_sandbox);
    QLabel* status = MainWindowTestAccess::ui(window.get())->m_progress_status;
    QCOMPARE(status->text(), first);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgrade"));
    QCOMPARE(status->text(), installing);
}

void TestMainWindow::progress_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("value");

    QTest::newRow("0 of 1000") << 1000 << 0 << 0;
    QTest::newRow("5 of 1000 truncates") << 1000 << 5 << 0;
    QTest::newRow("999 of 1000") << 1000 << 999 << 99;
    QTest::newRow("1000 of 1000") << 1000 << 1000 << 100;
    QTest::newRow("1100 of 1000") << 1000 << 1100 << 100;
    QTest::newRow("1 of 3") << 3 << 1 << 33;
    QTest::newRow("total 0") << 0 << 0 << 100;
    QTest::newRow("below a total of 0") << 0 << -1 << 0;
}

void TestMainWindow::progress()
{
    QFETCH(int, total);
    QFETCH(int, progress);
    QFETCH(int, value);

    const auto window = quietWindow(*m_sandbox);
    QProgressBar* bar = MainWindowTestAccess::ui(window.get())->m_progressBar;
    // Start elsewhere, so that a value that was never set cannot pass for 0.
    bar->setValue(42);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendProgress", Q_ARG(int, total), Q_ARG(int, progress)));
    QCOMPARE(bar->value(), value);
}

void TestMainWindow::progressRendering_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<int>("progress");

    for (int theme : {0, 1, 2}) {
        for (int is4k : {0, 1}) {
            for (int progress : {0, 250, 500, 999, 1100})
                QTest::addRow("theme %d, 4K %d, %d of 1000", theme, is4k, progress) << theme << is4k << progress;
        }
    }
}

// The filled part of the bar, as rendered, follows the percentage.
void TestMainWindow::progressRendering()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(int, progress);

    applyTheme(theme, is4k);
    const auto window = quietWindow(*m_sandbox);
    QProgressBar* bar = MainWindowTestAccess::ui(window.get())->m_progressBar;
    window->show();
    const QRect rect = bar->geometry();
    const int row = rect.center().y();
    const QRgb track = render(window.get()).pixel(rect.right() - rect.height(), row);

    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendProgress", Q_ARG(int, 1000), Q_ARG(int, progress)));
    const QImage shot = render(window.get());
    int filled = 0;
    for (int x = rect.left(); x <= rect.right(); ++x) {
        if (colourDistance(shot.pixel(x, row), track) > 40)
            ++filled;
    }
    const double expected = qMin(progress, 1000) / 1000.0 * rect.width();
    QVERIFY2(qAbs(filled - expected) <= rect.width() * 0.02 + 2,
             qPrintable(QStringLiteral("%1 pixels filled, %2 expected").arg(filled).arg(expected)));
    saveScreenshot(shot, QStringLiteral("window_theme%1_4k%2_progress%3").arg(theme).arg(is4k).arg(progress));
}

void TestMainWindow::errorState_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("barSheet");

    const QString light = QStringLiteral(
        "QProgressBar { border-radius: %1px; text-align: center;background-color: rgba(10, 33, 50, 0.04); } "
        "QProgressBar::chunk { border-radius: %1px;  background-color: #FF0000; }");
    const QString darker = QStringLiteral(
        "QProgressBar { border-radius: %1px; text-align: center;background-color: rgba(255, 255, 255, 0.04); } "
        "QProgressBar::chunk { border-radius: %1px;  background-color: #FF0000; }");
    for (int status : {1000, 1001}) {
        for (int is4k : {0, 1}) {
            const QString radius = QString::number(is4k ? 16 : 8);
            QTest::addRow("light, 4K %d, status %d", is4k, status) << 0 << is4k << status << light.arg(radius);
            QTest::addRow("golden, 4K %d, status %d", is4k, status) << 1 << is4k << status << darker.arg(radius);
            QTest::addRow("dark, 4K %d, status %d", is4k, status) << 2 << is4k << status << darker.arg(radius);
            QTest::addRow("theme 3, 4K %d, status %d", is4k, status) << 3 << is4k << status << QString();
        }
    }
}

void TestMainWindow::errorState()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(int, status);
    QFETCH(QString, barSheet);

    applyTheme(theme, is4k);
    const auto window = quietWindow(*m_sandbox);
    MainWindowUi* ui = MainWindowTestAccess::ui(window.get());
    window->show();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendProgress", Q_ARG(int, 1000), Q_ARG(int, 500)));
    const QImage before = render(window.get());
    LogCapture::flush();

    for (int call = 1; call <= 2; ++call) {
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgradeStatus", Q_ARG(int, status)));
        const QStringList lines = LogCapture::matching(
            LogCapture::flush(),
            QStringLiteral("MainWindow::onSendToUpgradeStatus called, and status: %1 ").arg(status));
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().startsWith(QStringLiteral("INFO ")));
        QCOMPARE(ui->m_progressBar->styleSheet(), barSheet);
        QCOMPARE(ui->m_progress_status->styleSheet(), QStringLiteral("color: #FF0000"));
    }

    const QImage after = render(window.get());
    const QRect close = ui->pushButtonClose->geometry();
    const QRgb background = before.pixel(close.left() - 4, close.center().y());
    const auto differsFromBackground = [&](QRgb p) { return colourDistance(p, background) > 60; };
    QCOMPARE(countPixels(before, close, differsFromBackground), 0);
    QVERIFY(countPixels(after, close, differsFromBackground) > close.width());

    const QRect text = ui->m_progress_status->geometry();
    QCOMPARE(countPixels(before, text, isRed), 0);
    QVERIFY(countPixels(after, text, isRed) > 20);

    const QRect bar = ui->m_progressBar->geometry();
    const QPoint inChunk(bar.left() + bar.width() / 4, bar.center().y());
    QVERIFY(!isRed(before.pixel(inChunk)));
    if (barSheet.isEmpty())
        QCOMPARE(after.pixel(inChunk), before.pixel(inChunk));
    else
        QCOMPARE(QColor(after.pixel(inChunk)), QColor(0xFF0000));
    saveScreenshot(after, QStringLiteral("window_theme%1_4k%2_error").arg(theme).arg(is4k));
}

void TestMainWindow::errorText_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    for (int status : {1000, 1001}) {
        QTest::addRow("Simplified Chinese, %d", status)
            << 0 << status << QStringLiteral("软件所安装的硬盘分区剩余空间不足，工具无法正常安装!");
        QTest::addRow("Traditional Chinese, %d", status)
            << 1 << status << QStringLiteral("軟體所安裝的硬碟分割區剩餘空間不足，工具無法正常安裝!");
        QTest::addRow("English, %d", status)
            << 2 << status
            << QStringLiteral("Insufficient space available on the volume, The tool\ncannot be installed properly.");
    }
}

void TestMainWindow::errorText()
{
    QFETCH(int, language);
    QFETCH(int, status);
    QFETCH(QString, text);

    gConfig.language_type = language;
    const auto window = quietWindow(*m_sandbox);
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgradeStatus", Q_ARG(int, status)));
    QCOMPARE(MainWindowTestAccess::ui(window.get())->m_progress_status->text(), text);
}

void TestMainWindow::finish_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("toolLaunched");

    QTest::newRow("installed, Salvix started by the worker") << true << true;
    QTest::newRow("installed, Salvix not seen") << true << false;
    QTest::newRow("not installed, launched") << false << true;
    QTest::newRow("not installed, not launched") << false << false;
}

void TestMainWindow::finish()
{
    QFETCH(bool, installed);
    QFETCH(bool, toolLaunched);

    const QString bundle = m_sandbox->applications() + QStringLiteral("/Salvix.app");
    const auto window = quietWindow(*m_sandbox);
    if (installed)
        QVERIFY(QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS")));
    QVERIFY(QDir().mkpath(m_sandbox->root() + QStringLiteral("/tmp")));
    LogCapture::flush();

    QTimer::singleShot(0, window.get(),
                       [&] { QMetaObject::invokeMethod(window.get(), "onSendFinish", Q_ARG(bool, toolLaunched)); });
    QCOMPARE(execEventLoop(), 0);

    const QList<QStringList> expectedXattr =
        installed ? QList<QStringList>{{QStringLiteral("-cr"), bundle}} : QList<QStringList>{};
    QCOMPARE(m_stubs->callsOf(QStringLiteral("xattr")), expectedXattr);
    if (installed && !toolLaunched) {
        QTRY_COMPARE_WITH_TIMEOUT(m_stubs->callsOf(QStringLiteral("open")).size(), 1, 20000);
        QCOMPARE(m_stubs->callsOf(QStringLiteral("open")).first(),
                 QStringList({bundle, QStringLiteral("--args"), bundle + QStringLiteral("/Contents/MacOS"),
                              QStringLiteral("delete_upgrade_file")}));
    } else {
        QTest::qWait(300);
        QCOMPARE(m_stubs->callsOf(QStringLiteral("open")), QList<QStringList>());
    }

    const QStringList lines = LogCapture::flush();
    const QString quoted = QLatin1Char('"') + bundle + QLatin1Char('"');
    QCOMPARE(LogCapture::matching(lines, QStringLiteral("[MainWindow::onSendFinish] xattr -cr: ") + quoted).size(),
             installed ? 1 : 0);
    QCOMPARE(
        LogCapture::matching(lines, QStringLiteral("MASTER already launched by UpgradeToolThread, skip open")).size(),
        installed && toolLaunched ? 1 : 0);
    QCOMPARE(
        LogCapture::matching(lines, QStringLiteral("[MainWindow::onSendFinish] fallback launched MASTER: ") + quoted)
            .size(),
        installed && !toolLaunched ? 1 : 0);
    const QStringList missing =
        LogCapture::matching(lines, QStringLiteral("[MainWindow::onSendFinish] MASTER app not found at: ") + quoted);
    QCOMPARE(missing.size(), installed ? 0 : 1);
    if (!installed)
        QVERIFY(missing.first().startsWith(QStringLiteral("WARN ")));

    // This test program lies in the build tree, not in a bundle: nothing is deleted.
    QCOMPARE(LogCapture::matching(
                 lines, QStringLiteral("[MainWindow::scheduleSelfDelete] not running from an application bundle"))
                 .size(),
             1);
    QVERIFY(!QFile::exists(m_sandbox->root() + QStringLiteral("/tmp/quilm_setup_selfdelete.sh")));
}

void TestMainWindow::closeButtonEndsTheLoop()
{
    const auto window = quietWindow(*m_sandbox);
    window->show();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgradeStatus", Q_ARG(int, 1000)));
    QPushButton* close = MainWindowTestAccess::ui(window.get())->pushButtonClose;
    QTimer::singleShot(0, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
    QCOMPARE(execEventLoop(), 0);
}

void TestMainWindow::showAndLookUp()
{
    QCOMPARE(MainWindow::GetMainWindowPtr(), nullptr);
    QWidget other;
    other.show();
    auto window = quietWindow(*m_sandbox);
    QCOMPARE(MainWindow::GetMainWindowPtr(), window.get());

    QVERIFY(!window->isVisible());
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onShowProgress"));
    QVERIFY(window->isVisible());
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onShowProgress"));
    QVERIFY(window->isVisible());

    LogCapture::flush();
    window.reset();
    QCOMPARE(LogCapture::matching(LogCapture::flush(), QStringLiteral("MainWindow::~MainWindow() called")).size(), 1);
    QCOMPARE(MainWindow::GetMainWindowPtr(), nullptr);
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
