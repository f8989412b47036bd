#pragma once

#include "GlobalConfig.h"
#include "MainWindow.h"
#include "MainWindowUi.h"
#include "Sandbox.h"
#include "Themes.h"
#include "UpgradeToolThread.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <memory>

// Reaches into the progress window for the tests: its widgets and its worker.
class MainWindowTestAccess
{
public:
    static MainWindowUi* ui(MainWindow* window) { return window->ui; }
    static UpgradeToolThread* worker(MainWindow* window) { return window->upgradeThread; }
};

namespace WindowFixture {

// Stubs that record every call in one file: a record per call, the program name and
// its arguments each ended by a NUL byte, the record ended by an RS byte (0x1e), so
// arguments keep blanks, quotes and line feeds. Their folder comes first on PATH.
//   pgrep: exit 0 ("running") for the first $STUB_PGREP_RUNNING calls, then 1; with
//          $STUB_SNAPSHOT set, first copies that file (mode kept) to $STUB_SNAPSHOT.seen
//   rm: fails without deleting for the first $STUB_RM_REFUSE calls that name
//       $STUB_RM_TARGET, else runs the real rm
//   ps: exit 1 ("no such process")
//   pkill, sleep, xattr, open: exit 0
// With $STUB_PIDS set (a file of process ids, one a line), pgrep -f REGEX and pkill -9 -f
// REGEX behave as the real ones, but over the listed processes only: a listed process
// matches when the real pgrep matches it (so its command line reads as the process list
// shows it), and only listed ones are killed; ps is the real one. With $STUB_SLEEP_REAL
// set, sleep really sleeps.
class Stubs
{
public:
    explicit Stubs(const QString& folder)
        : stubFolder(folder)
        , savedPath(qgetenv("PATH"))
    {
        QDir().mkpath(folder);
        const QByteArray record =
            "printf '%s\\0' \"${0##*/}\" \"$@\" >> \"$STUB_CALLS\"; printf '\\036' >> \"$STUB_CALLS\"\n";
        // count KEY: prints how often it ran before with this key.
        const QByteArray count = "count() { local n; n=$(cat \"$STUB_CALLS.$1\" 2>/dev/null || echo 0); "
                                 "echo $((n + 1)) > \"$STUB_CALLS.$1\"; echo \"$n\"; }\n";
        // The stubs' folder is first on PATH: the rest of it finds the real programs.
        const QByteArray listed = "if [ -n \"${STUB_PIDS:-}\" ]; then\n"
                                  "    [ \"${*:1:$#-1}\" = \"${PGREP_FLAGS}\" ] || exit 2\n"
                                  "    regex=${!#}; status=1\n"
                                  "    real=$(PATH=${PATH#*:} type -P pgrep) || exit 3\n"
                                  "    for pid in $(\"$real\" -f \"$regex\"); do\n"
                                  "        grep -qx \"$pid\" \"$STUB_PIDS\" || continue\n"
                                  "        status=0\n"
                                  "        [ \"${0##*/}\" = pkill ] && kill -9 \"$pid\"\n"
                                  "    done\n"
                                  "    exit $status\n"
                                  "fi\n";
        write("pgrep", "#!/bin/bash\n" + record + count + "PGREP_FLAGS=-f\n" + listed
                           + "[ -n \"${STUB_SNAPSHOT:-}\" ] && cp -p \"$STUB_SNAPSHOT\" \"$STUB_SNAPSHOT.seen\"\n"
                           + "[ \"$(count pgrep)\" -lt \"${STUB_PGREP_RUNNING:-0}\" ]\n");
        write("pkill", "#!/bin/bash\n" + record + "PGREP_FLAGS='-9 -f'\n" + listed + "exit 0\n");
        write("ps", "#!/bin/bash\n" + record
                        + "[ -n \"${STUB_PIDS:-}\" ] && exec \"$(PATH=${PATH#*:} type -P ps)\" \"$@\"\nexit 1\n");
        write("sleep",
              "#!/bin/bash\n" + record + "[ -n \"${STUB_SLEEP_REAL:-}\" ] && exec /bin/sleep \"$@\"\nexit 0\n");
        write("rm", "#!/bin/bash\n" + record + count
                        + "for a in \"$@\"; do\n"
                          "    if [ -n \"${STUB_RM_TARGET:-}\" ] && [ \"$a\" = \"$STUB_RM_TARGET\" ]; then\n"
                          "        [ \"$(count rm)\" -ge \"${STUB_RM_REFUSE:-0}\" ] && break\n"
                          "        exit 1\n"
                          "    fi\n"
                          "done\n"
                          "exec /bin/rm \"$@\"\n");
        for (const char* name : {"xattr", "open"})
            write(name, "#!/bin/bash\n" + record + "exit 0\n");
        qputenv("STUB_CALLS", callsFile().toUtf8());
        qputenv("PATH", folder.toUtf8() + ':' + savedPath);
    }

    ~Stubs()
    {
        qputenv("PATH", savedPath);
        for (const char* name : {"STUB_CALLS", "STUB_PGREP_RUNNING", "STUB_SNAPSHOT", "STUB_RM_TARGET",
                                 "STUB_RM_REFUSE", "STUB_PIDS", "STUB_SLEEP_REAL"})
            qunsetenv(name);
    }

    Stubs(const Stubs&) = delete;
    Stubs& operator=(const Stubs&) = delete;

    QString callsFile() const { return stubFolder + QStringLiteral("/calls"); }

    // Every call so far, each as the program name followed by its arguments.
    QList<QStringList> calls() const
    {
        QList<QStringList> result;
        const QList<QByteArray> records = Sandbox::read(callsFile()).split('\x1e');
        for (const QByteArray& record : records) {
            if (record.isEmpty())
                continue;
            QStringList call;
            QList<QByteArray> parts = record.split('\0');
            parts.removeLast();
            for (const QByteArray& part : parts)
                call << QString::fromUtf8(part);
            result << call;
        }
        return result;
    }

    // The calls of one program, without its name.
    QList<QStringList> callsOf(const QString& program) const
    {
        QList<QStringList> result;
        for (QStringList call : calls()) {
            if (call.takeFirst() == program)
                result << call;
        }
        return result;
    }

private:
    void write(const char* name, const QByteArray& script)
    {
        const QString path = stubFolder + QLatin1Char('/') + QLatin1String(name);
        Sandbox::write(path, script);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QString stubFolder;
    QByteArray savedPath;
};

// The application font and the theme's style sheet, loaded as start-up loads them: the
// sheet read word by word and joined with line feeds.
inline void loadApplicationFont()
{
    const QStringList families = QFontDatabase::applicationFontFamilies(
        QFontDatabase::addApplicationFont(QStringLiteral(":/resources/fonts/HarmonyOS_Sans_SC_Regular.ttf")));
    if (families.isEmpty())
        return;
    QFont font = QApplication::font();
    font.setFamily(families.first());
    QApplication::setFont(font);
}

inline QString sheetPath(int themeType, int is4k)
{
    return QStringLiteral(":/resources/qss/%1Style%2.qss")
        .arg(sheetTheme(themeType).sheetName, is4k == 1 ? QStringLiteral("4K") : QString());
}

inline QString readSheet(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream in(&file);
    QStringList words;
    while (!in.atEnd()) {
        QString word;
        in >> word;
        words << word;
    }
    return words.join(QLatin1Char('\n'));
}

inline void applyTheme(int themeType, int is4k)
{
    gConfig.theme_type = themeType;
    gConfig.is_4k_screen = is4k;
    qApp->setStyleSheet(readSheet(sheetPath(themeType, is4k)));
}

// A progress window whose worker has already ended, with none of its signals pending.
// The sandbox has no "/Applications" while the worker runs, so its run stops at once
// (free space unknown); the folder is made again afterwards.
inline std::unique_ptr<MainWindow> quietWindow(const Sandbox& sandbox)
{
    QDir(sandbox.applications()).removeRecursively();
    auto window = std::make_unique<MainWindow>(nullptr);
    MainWindowTestAccess::worker(window.get())->wait();
    QCoreApplication::removePostedEvents(window.get(), QEvent::MetaCall);
    QDir().mkpath(sandbox.applications());
    return window;
}

// Runs the event loop until something ends it; 99 if nothing did within a minute.
inline int execEventLoop()
{
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(60000);
    return QCoreApplication::exec();
}

inline QImage render(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

inline bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 90 && qBlue(pixel) < 90 && qAlpha(pixel) > 200;
}

inline int colourDistance(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b))
           + qAbs(qAlpha(a) - qAlpha(b));
}

// Pixels of the rectangle that satisfy the test.
template <typename Test>
int countPixels(const QImage& image, const QRect& rect, Test test)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (test(image.pixel(x, y)))
                ++count;
        }
    }
    return count;
}

// The folder the tests save their renderings to, for the screenshots of the README.
inline void saveScreenshot(const QImage& image, const QString& name)
{
    QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
    image.save(QStringLiteral(SCREENSHOT_DIR "/%1.png").arg(name));
}

} // namespace WindowFixture
