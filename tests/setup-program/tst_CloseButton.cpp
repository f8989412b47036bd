// Runs of the built Salvix Setup that end by the close button of the error state, on a
// virtual X display: the test sees the window on screen and clicks it with xdotool.

#include "ProgramSandbox.h"
#include "WorkerFixture.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QTest>

namespace {

// Runs xdotool on the test's display and returns what it printed.
QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The progress window's place on screen, found by its title; null until it is mapped.
QRect progressWindow()
{
    const QString id = xdotool({"search", "--onlyvisible", "--name", "^Salvix Engine$"}).section('\n', 0, 0);
    if (id.isEmpty())
        return QRect();
    QRect rect;
    for (const QString& line : xdotool({"getwindowgeometry", "--shell", id}).split('\n')) {
        const int value = line.section('=', 1).toInt();
        if (line.startsWith("X="))
            rect.moveLeft(value);
        else if (line.startsWith("Y="))
            rect.moveTop(value);
        else if (line.startsWith("WIDTH="))
            rect.setWidth(value);
        else if (line.startsWith("HEIGHT="))
            rect.setHeight(value);
    }
    return rect;
}

// Pixels of plain red (the error state's text) in a part of the screen.
int redPixels(const QRect& area)
{
    const QImage image =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += (c.red() > 200 && c.green() < 60 && c.blue() < 60) ? 1 : 0;
        }
    }
    return count;
}

} // namespace

class TestCloseButton : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void notEnoughSpace();
    void closedWhileTheWorkerRuns();

private:
    // Runs the program on the test's display until its error state shows this status,
    // clicks the close button and returns the exit status (-1 when it did not end).
    static int runAndClose(const ProgramSandbox& box, int status);
    // Waits for the error state on screen, checks it and clicks the close button.
    static void closeErrorState(const ProgramSandbox& box, int status);

    bool m_isolated = false;
};

void TestCloseButton::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == "xcb", "runs on an X display (with-xvfb.sh)");
    m_isolated = WorkerFixture::enterPrivateMountNamespace();
}

void TestCloseButton::closeErrorState(const ProgramSandbox& box, int status)
{
    const QString line = QStringLiteral("MainWindow::onSendToUpgradeStatus called, and status: %1 ").arg(status);
    QVERIFY(ProgramSandbox::waitFor([&] { return !box.launchLogLines().filter(line).isEmpty(); }));

    // Normal layout, centred on the 1280 x 1024 screen; the status text in red.
    QRect window;
    QVERIFY(ProgramSandbox::waitFor([&] {
        window = progressWindow();
        return window.isValid();
    }));
    QCOMPARE(window, QRect(340, 402, 600, 220));
    const QRect status_text(window.x() + 25, window.y() + 104, 552, 50);
    QVERIFY(ProgramSandbox::waitFor([&] { return redPixels(status_text) > 100; }, 20000));

    const QPoint close = window.topLeft() + QPoint(556 + 12, 20 + 12);
    xdotool({"mousemove", QString::number(close.x()), QString::number(close.y()), "click", "1"});
}

int TestCloseButton::runAndClose(const ProgramSandbox& box, int status)
{
    QProcessEnvironment env = box.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", qEnvironmentVariable("DISPLAY"));
    env.insert("LANG", "en_US.UTF-8");
    QProcess setup;
    setup.setProcessEnvironment(env);
    setup.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    setup.start(box.setupExecutable(), QStringList());
    if (!setup.waitForStarted())
        return -1;
    closeErrorState(box, status);
    if (QTest::currentTestFailed())
        setup.kill();
    if (!setup.waitForFinished(60000))
        return -1;
    return setup.exitStatus() == QProcess::NormalExit ? setup.exitCode() : -1;
}

void TestCloseButton::notEnoughSpace()
{
    if (!m_isolated)
        QSKIP("needs a private mount namespace for a small file system");
    ProgramSandbox box;
    WorkerFixture::SizedFolder applications(box.applications(), 256 * 1024 * 1024);
    QVERIFY(applications.isMounted());
    box.placeSetupBundle();

    QCOMPARE(runAndClose(box, 1000), 0);

    // Nothing installed, nothing started, and Salvix Setup stays.
    QVERIFY(!QFile::exists(box.salvixExecutable()));
    QVERIFY(box.salvixLaunches().isEmpty());
    QVERIFY(QFile::exists(box.setupExecutable()));
    QVERIFY(!QFile::exists(box.selfDeleteScript()));
    QVERIFY(box.launchLogLines().last().endsWith(" [main] run finished "));
}

void TestCloseButton::closedWhileTheWorkerRuns()
{
    // Salvix installed at the same version, without animation videos (status 1001, and
    // the worker goes on) and with a program that ends at once, so the worker waits a
    // few seconds for it after the close button ended the event loop.
    ProgramSandbox box;
    box.installSalvix(SALVIX_SETUP_VERSION);
    QVERIFY(QDir(box.salvixBundle() + "/Contents/Resources/image/background").removeRecursively());
    QFile::remove(box.salvixExecutable());
    QVERIFY(Sandbox::write(box.salvixExecutable(), "#!/bin/sh\nexit 0\n"));
    QVERIFY(QFile::setPermissions(box.salvixExecutable(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    QCOMPARE(runAndClose(box, 1001), 0);

    // The logger outlived the worker: its last lines reached the launch log, before the
    // program's own last line.
    const QStringList log = box.launchLogLines();
    QVERIFY(log.size() >= 2);
    QVERIFY2(log.at(log.size() - 2).endsWith(" UpgradeToolThread::run() finished "),
             qPrintable(log.at(log.size() - 2)));
    QVERIFY(log.last().endsWith(" [main] run finished "));
    // The finish signal came after the loop had ended: no self-removal.
    QVERIFY(QFile::exists(box.setupExecutable()));
    QVERIFY(!QFile::exists(box.selfDeleteScript()));
}

QTEST_MAIN(TestCloseButton)
#include "tst_CloseButton.moc"
