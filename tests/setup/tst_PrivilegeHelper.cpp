#include "PlatformProbes.h"
#include "PrivilegeHelper.h"
#include "PrivilegeHelper_p.h"
#include "Sandbox.h"
#include "SystemRoot.h"

#include <Security/Authorization.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kUnchanged = QStringLiteral("caller's text");
const QString kSudoPassword = QStringLiteral("pässwörd 1");

// Stubs that record their arguments (NUL-separated) and standard input in the sandbox:
// "pkexec" first on the search path, "sudo" and "osascript" under the root prefix. No
// real administrator prompt is ever shown.
class Stubs
{
public:
    explicit Stubs(const Sandbox& sandbox)
        : m_records(sandbox.path() + "/records")
        , m_bin(sandbox.path() + "/bin")
        , m_root(sandbox.root())
        , m_noTools(sandbox.path() + "/nothing")
        , m_savedPath(qgetenv("PATH"))
    {
        QDir().mkpath(m_records);
        QDir().mkpath(m_noTools);
        install(m_bin + "/pkexec",
                "cat > \"$record/pkexec.stdin\"\n"
                "case \"$(cat \"$record/pkexec.mode\" 2>/dev/null)\" in\n"
                "    dismiss) echo 'Error executing command as another user: Request dismissed' >&2; exit 126 ;;\n"
                "    refuse) echo 'Error executing command as another user: Not authorized' >&2; exit 127 ;;\n"
                "esac\n"
                "exec \"$@\"\n");
        install(m_root + "/usr/bin/sudo",
                "cat > \"$record/sudo.stdin\"\n"
                "IFS= read -r password < \"$record/sudo.stdin\"\n"
                "if [ \"$1\" != -S ] || [ \"$password\" != \"$(cat \"$record/sudo.password\")\" ]; then\n"
                "    echo 'Sorry, try again.' >&2\n"
                "    exit 1\n"
                "fi\n"
                "shift\n"
                "exec \"$@\"\n");
        // Standard input stays open and unwritten, as for the real osascript with -e.
        install(m_root + "/usr/bin/osascript", "cat \"$record/osascript.stdout\" 2>/dev/null\n"
                                               "exit \"$(cat \"$record/osascript.status\" 2>/dev/null || echo 0)\"\n");
        usePath(m_bin + ":/usr/bin:/bin");
    }

    ~Stubs() { qputenv("PATH", m_savedPath); }

    Stubs(const Stubs&) = delete;
    Stubs& operator=(const Stubs&) = delete;

    // A search path without any pkexec.
    void hidePkexec() { usePath(m_noTools); }
    void setPkexecMode(const QString& mode) { Sandbox::write(m_records + "/pkexec.mode", mode.toUtf8()); }
    void setSudoPassword(const QString& password) { Sandbox::write(m_records + "/sudo.password", password.toUtf8()); }
    void setOsascriptReply(const QByteArray& output, int status)
    {
        Sandbox::write(m_records + "/osascript.stdout", output);
        Sandbox::write(m_records + "/osascript.status", QByteArray::number(status));
    }
    // Puts the real osascript stand-in where the stub was.
    bool useOsascriptStandIn()
    {
        const QString path = m_root + "/usr/bin/osascript";
        return QFile::remove(path) && QFile::link(QStringLiteral(PLATFORM_TOOLS_DIR) + "/osascript", path);
    }

    bool ran(const QString& tool) const { return QFile::exists(m_records + "/" + tool + ".args"); }
    QStringList arguments(const QString& tool) const
    {
        QList<QByteArray> parts = Sandbox::read(m_records + "/" + tool + ".args").split('\0');
        parts.removeLast(); // after the closing NUL
        QStringList list;
        for (const QByteArray& part : parts)
            list << QString::fromUtf8(part);
        return list;
    }
    QByteArray input(const QString& tool) const { return Sandbox::read(m_records + "/" + tool + ".stdin"); }

private:
    void install(const QString& path, const QByteArray& body)
    {
        const QString tool = QFileInfo(path).fileName();
        const QByteArray script = "#!/bin/bash\nrecord='" + m_records.toUtf8()
                                  + "'\n"
                                    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$record/"
                                  + tool.toUtf8() + ".args\"\n" + body;
        Sandbox::write(path, script);
        QFile::setPermissions(path, QFile::permissions("/bin/sh") | QFileDevice::ExeOwner);
    }
    void usePath(const QString& path) { qputenv("PATH", path.toUtf8()); }

    QString m_records;
    QString m_bin;
    QString m_root;
    QString m_noTools;
    QByteArray m_savedPath;
};

// Text of 2-byte and 3-byte characters whose bytes do not line up with pieces of 255.
QString longLine()
{
    return QString(400, QChar(0x00E9)) + QString(100, QChar(0x20AC)) + QStringLiteral(" end");
}

// The nearest folder above path that other users may not enter; empty when there is none.
QString folderClosedToOthers(const QString& path)
{
    for (QString folder = QFileInfo(path).absolutePath();; folder = QFileInfo(folder).absolutePath()) {
        struct stat status = {};
        if (stat(QFile::encodeName(folder).constData(), &status) == 0 && (status.st_mode & S_IXOTH) == 0)
            return folder;
        if (QFileInfo(folder).isRoot())
            return QString();
    }
}

} // namespace

class TestPrivilegeHelper : public QObject
{
    Q_OBJECT

private slots:
    void programPathRule_data();
    void programPathRule();
    void authorizationRights_data();
    void authorizationRights();
    void executionNeedsTheRight();
    void runWithAuthorization_data();
    void runWithAuthorization();
    void runWithOsascript_data();
    void runWithOsascript();
    void osascriptStandIn_data();
    void osascriptStandIn();
    void runWithSudo_data();
    void runWithSudo();
    void processLimits_data();
    void processLimits();
    void userNames();
    void userNamesFromTwoThreads();
    void realUserId_data();
    void realUserId();
};

void TestPrivilegeHelper::programPathRule_data()
{
    QTest::addColumn<QString>("placed"); // what lies at the prefixed path
    QTest::addColumn<bool>("prefixed");

    QTest::newRow("executable file") << "program" << true;
    QTest::newRow("file without execute permission") << "file" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("nothing") << "" << false;
}

void TestPrivilegeHelper::programPathRule()
{
    QFETCH(QString, placed);
    QFETCH(bool, prefixed);

    Sandbox sandbox;
    const QString stub = sandbox.root() + "/usr/bin/sudo";
    if (placed == "folder")
        QVERIFY(QDir().mkpath(stub));
    if (placed == "program" || placed == "file") {
        QVERIFY(Sandbox::write(stub, "#!/bin/sh\n"));
        QFile::setPermissions(stub, placed == "program" ? QFile::permissions("/bin/sh") : QFileDevice::ReadOwner);
    }
    QCOMPARE(systemProgramPath("/usr/bin/sudo"), prefixed ? stub : QString("/usr/bin/sudo"));

    qunsetenv("SALVIX_ROOT");
    QCOMPARE(systemProgramPath("/usr/bin/sudo"), QString("/usr/bin/sudo"));
}

void TestPrivilegeHelper::authorizationRights_data()
{
    QTest::addColumn<QByteArray>("right");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<bool>("withPkexec");
    QTest::addColumn<int>("status");

    const uint prompt =
        kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;
    QTest::newRow("administrator with prompt")
        << QByteArray("system.privilege.admin") << prompt << true << int(errAuthorizationSuccess);
    QTest::newRow("rights not extended") << QByteArray("system.privilege.admin")
                                         << uint(kAuthorizationFlagInteractionAllowed) << true
                                         << int(errAuthorizationDenied);
    QTest::newRow("prompt not allowed") << QByteArray("system.privilege.admin") << uint(kAuthorizationFlagExtendRights)
                                        << true
                                        << int(getuid() == 0 ? errAuthorizationSuccess
                                                             : errAuthorizationInteractionNotAllowed);
    QTest::newRow("another right") << QByteArray("system.preferences") << prompt << true << int(errAuthorizationDenied);
    QTest::newRow("no pkexec") << QByteArray("system.privilege.admin") << prompt << false
                               << int(errAuthorizationDenied);
}

void TestPrivilegeHelper::authorizationRights()
{
    QFETCH(QByteArray, right);
    QFETCH(uint, flags);
    QFETCH(bool, withPkexec);
    QFETCH(int, status);

    Sandbox sandbox;
    Stubs stubs(sandbox);
    if (!withPkexec)
        stubs.hidePkexec();
    AuthorizationRef authorization = nullptr;
    QCOMPARE(AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, kAuthorizationFlagDefaults, &authorization),
             errAuthorizationSuccess);
    AuthorizationItem item{right.constData(), 0, nullptr, 0};
    const AuthorizationRights rights{1, &item};
    QCOMPARE(AuthorizationCopyRights(authorization, &rights, kAuthorizationEmptyEnvironment, flags, nullptr), status);
    QCOMPARE(AuthorizationFree(authorization, kAuthorizationFlagDefaults), errAuthorizationSuccess);
    // The same request made at creation, with and without a reference to keep.
    QCOMPARE(AuthorizationCreate(&rights, kAuthorizationEmptyEnvironment, flags, nullptr), status);
    AuthorizationRef created = nullptr;
    QCOMPARE(AuthorizationCreate(&rights, kAuthorizationEmptyEnvironment, flags, &created), status);
    QCOMPARE(created != nullptr, status == errAuthorizationSuccess);
    if (created)
        AuthorizationFree(created, kAuthorizationFlagDefaults);
    QVERIFY(!stubs.ran("pkexec"));
}

// Without the right, or without pkexec at the time of the call, nothing is started.
void TestPrivilegeHelper::executionNeedsTheRight()
{
    Sandbox sandbox;
    Stubs stubs(sandbox);
    AuthorizationRef authorization = nullptr;
    QCOMPARE(AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, kAuthorizationFlagDefaults, &authorization),
             errAuthorizationSuccess);
    char* const noArguments[] = {nullptr};
    FILE* pipe = nullptr;
    QCOMPARE(
        AuthorizationExecuteWithPrivileges(authorization, "/bin/true", kAuthorizationFlagDefaults, noArguments, &pipe),
        errAuthorizationDenied);

    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    const AuthorizationRights rights{1, &item};
    QCOMPARE(AuthorizationCopyRights(authorization, &rights, kAuthorizationEmptyEnvironment,
                                     kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights, nullptr),
             errAuthorizationSuccess);
    stubs.hidePkexec();
    QCOMPARE(
        AuthorizationExecuteWithPrivileges(authorization, "/bin/true", kAuthorizationFlagDefaults, noArguments, &pipe),
        errAuthorizationToolExecuteFailure);
    QVERIFY(!pipe);
    QVERIFY(!stubs.ran("pkexec"));
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
}

void TestPrivilegeHelper::runWithAuthorization_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("pkexec"); // "allow", "dismiss", "refuse", or "none" on the search path
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("output");

    QTest::newRow("arguments as they are")
        << "/usr/bin/printf" << QStringList{"<%s>\n", "two words", "", "ünï €", "$HOME;*|`x` \"q\""} << "allow" << true
        << "<two words>\n<>\n<ünï €>\n<$HOME;*|`x` \"q\">\n";
    QTest::newRow("empty argument list") << "/bin/true" << QStringList() << "allow" << true << "";
    QTest::newRow("line longer than 255 bytes")
        << "/usr/bin/printf" << QStringList{"%s\n", longLine()} << "allow" << true << longLine() + "\n";
    QTest::newRow("program started, its status is not the result")
        << "/bin/sh" << QStringList{"-c", "echo partial; exit 3"} << "allow" << true << "partial\n";
    QTest::newRow("prompt dismissed") << "/usr/bin/printf" << QStringList{"x"} << "dismiss" << false << kUnchanged;
    QTest::newRow("prompt refused") << "/usr/bin/printf" << QStringList{"x"} << "refuse" << false << kUnchanged;
    QTest::newRow("program missing") << "/nonexistent/tool" << QStringList{"x"} << "allow" << false << kUnchanged;
    QTest::newRow("no pkexec") << "/usr/bin/printf" << QStringList{"x"} << "none" << false << kUnchanged;
}

void TestPrivilegeHelper::runWithAuthorization()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, pkexec);
    QFETCH(bool, expected);
    QFETCH(QString, output);

    Sandbox sandbox;
    Stubs stubs(sandbox);
    if (pkexec == "none")
        stubs.hidePkexec();
    else
        stubs.setPkexecMode(pkexec);

    QString text = kUnchanged;
    QCOMPARE(PrivilegeHelper::runWithAuthorization(program, arguments, text), expected);
    QCOMPARE(text, output);
    QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1); // no child left, not even one to reap
    if (pkexec == "none") {
        QVERIFY(!stubs.ran("pkexec"));
        return;
    }
    QCOMPARE(stubs.arguments("pkexec"), QStringList{program} + arguments);
    QCOMPARE(stubs.input("pkexec"), QByteArray());

    QCOMPARE(PrivilegeHelper::runWithAuthorization(program, arguments), expected);
}

void TestPrivilegeHelper::runWithOsascript_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("expected");

    QTest::newRow("exit code 0") << "ls -l '/Library/Application Support'" << QByteArray("total 0\n") << 0 << true;
    QTest::newRow("exit code 1, output still taken") << "false" << QByteArray("partial") << 1 << false;
    QTest::newRow("quotes and percent signs unchanged") << "printf \"%1 %2\" 'a b'" << QByteArray("ü") << 0 << true;
}

void TestPrivilegeHelper::runWithOsascript()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(bool, expected);

    Sandbox sandbox;
    Stubs stubs(sandbox);
    stubs.setOsascriptReply(reply, status);
    QCOMPARE(systemProgramPath("/usr/bin/osascript"), sandbox.root() + "/usr/bin/osascript");

    QString text = kUnchanged;
    QCOMPARE(PrivilegeHelper::runWithOsascript(command, text), expected);
    QCOMPARE(text, QString::fromUtf8(reply));
    QCOMPARE(stubs.arguments("osascript"),
             QStringList({"-e", "do shell script \"" + command + "\" with administrator privileges"}));
    QCOMPARE(PrivilegeHelper::runWithOsascript(command), expected);
}

// The osascript stand-in itself under the root prefix, with pkexec's stub.
void TestPrivilegeHelper::osascriptStandIn_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("pkexec");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("shellCommand"); // as pkexec's sh gets it; null when pkexec does not run

    QTest::newRow("line ends as carriage returns, the last one dropped") << "printf 'one\\ntwo\\n'"
                                                                         << "allow" << true << "one\rtwo\n"
                                                                         << "printf 'one\ntwo\n'";
    QTest::newRow("text in UTF-8") << "echo 'Grüße 你好'"
                                   << "allow" << true << "Grüße 你好\n"
                                   << "echo 'Grüße 你好'";
    QTest::newRow("no output") << "true"
                               << "allow" << true << "\n"
                               << "true";
    QTest::newRow("command fails") << "echo partial; exit 2"
                                   << "allow" << false << ""
                                   << "echo partial; exit 2";
    QTest::newRow("prompt dismissed") << "echo x"
                                      << "dismiss" << false << ""
                                      << "echo x";
    QTest::newRow("double quote ends the literal") << "echo \"x\""
                                                   << "allow" << false << "" << QString();
    QTest::newRow("no pkexec") << "echo x"
                               << "none" << false << "" << QString();
}

void TestPrivilegeHelper::osascriptStandIn()
{
    QFETCH(QString, command);
    QFETCH(QString, pkexec);
    QFETCH(bool, expected);
    QFETCH(QString, output);
    QFETCH(QString, shellCommand);

    Sandbox sandbox;
    Stubs stubs(sandbox);
    QVERIFY(stubs.useOsascriptStandIn());
    QCOMPARE(systemProgramPath("/usr/bin/osascript"), sandbox.root() + "/usr/bin/osascript");
    if (pkexec == "none")
        stubs.hidePkexec();
    else
        stubs.setPkexecMode(pkexec);

    QString text = kUnchanged;
    QCOMPARE(PrivilegeHelper::runWithOsascript(command, text), expected);
    QCOMPARE(text, output);
    if (shellCommand.isNull()) {
        QVERIFY(!stubs.ran("pkexec"));
    } else {
        QCOMPARE(stubs.arguments("pkexec"), QStringList({"/bin/sh", "-c", shellCommand}));
        QCOMPARE(stubs.input("pkexec"), QByteArray());
    }
}

void TestPrivilegeHelper::runWithSudo_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("output");

    QTest::newRow("right password") << kSudoPassword << "/usr/bin/printf" << QStringList{"%s,", "a", "b c"} << true
                                    << "a,b c,";
    QTest::newRow("empty argument list") << kSudoPassword << "/bin/true" << QStringList() << true << "";
    QTest::newRow("wrong password") << "wrong"
                                    << "/usr/bin/printf" << QStringList{"x"} << false << "";
    QTest::newRow("program fails") << kSudoPassword << "/bin/sh" << QStringList{"-c", "echo partial; exit 4"} << false
                                   << "partial\n";
}

void TestPrivilegeHelper::runWithSudo()
{
    QFETCH(QString, password);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, expected);
    QFETCH(QString, output);

    Sandbox sandbox;
    Stubs stubs(sandbox);
    stubs.setSudoPassword(kSudoPassword);
    QCOMPARE(systemProgramPath("/usr/bin/sudo"), sandbox.root() + "/usr/bin/sudo");

    QString text = kUnchanged;
    QCOMPARE(PrivilegeHelper::runWithSudo(program, arguments, password, text), expected);
    QCOMPARE(text, output);
    QCOMPARE(stubs.arguments("sudo"), QStringList({"-S", program}) + arguments);
    QCOMPARE(stubs.input("sudo"), password.toUtf8() + "\n");
}

// The start, input, time limit and output rules that the osascript and sudo operations share.
void TestPrivilegeHelper::processLimits_data()
{
    QTest::addColumn<QString>("program"); // %1 is the sandbox
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input"); // null: nothing written, standard input left open
    QTest::addColumn<int>("finishLimitMs");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("output");

    QTest::newRow("ends in time") << "/bin/sh" << QStringList{"-c", "printf done"} << QByteArray() << 30000 << true
                                  << "done";
    QTest::newRow("input written, then closed")
        << "/bin/cat" << QStringList() << QByteArray("secret ü\n") << 30000 << true << "secret ü\n";
    QTest::newRow("non-zero exit") << "/bin/sh" << QStringList{"-c", "printf out; exit 2"} << QByteArray() << 30000
                                   << false << "out";
    QTest::newRow("killed by a signal") << "/bin/sh" << QStringList{"-c", "printf out; kill -9 $$"} << QByteArray()
                                        << 30000 << false << "out";
    QTest::newRow("not started") << "%1/missing" << QStringList() << QByteArray() << 30000 << false << kUnchanged;
    QTest::newRow("not executable") << "%1/plain.txt" << QStringList() << QByteArray() << 30000 << false << kUnchanged;
    QTest::newRow("does not end") << "%1/hang" << QStringList{"30"} << QByteArray() << 300 << false << kUnchanged;
    QTest::newRow("output, then no end") << "/bin/sh" << QStringList{"-c", "printf early; exec \"$0\" 30", "%1/hang"}
                                         << QByteArray() << 300 << false << kUnchanged;
}

void TestPrivilegeHelper::processLimits()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, finishLimitMs);
    QFETCH(bool, expected);
    QFETCH(QString, output);

    Sandbox sandbox;
    const QString dir = QFileInfo(sandbox.path()).canonicalFilePath();
    const QString hang = dir + "/hang";
    QVERIFY(QFile::copy("/bin/sleep", hang));
    QVERIFY(Sandbox::write(dir + "/plain.txt", "#!/bin/sh\n"));
    program.replace("%1", dir);
    arguments.replaceInStrings("%1", dir);

    // A process left running would be killed by its destructor with this warning.
    QTest::failOnWarning(QRegularExpression("Destroyed while process"));
    QString text = kUnchanged;
    const std::optional<QByteArray> written = input.isNull() ? std::nullopt : std::optional<QByteArray>(input);
    QCOMPARE(PrivilegeHelperPrivate::runProcess(program, arguments, written, 30000, finishLimitMs, text), expected);
    QCOMPARE(text, output);
    QVERIFY(!checkQuilmTolvaneRunning(hang));
}

void TestPrivilegeHelper::userNames()
{
    const passwd* own = getpwuid(getuid());
    QCOMPARE(PrivilegeHelper::currentUserName(), own ? QString::fromUtf8(own->pw_name) : QString());
    QVERIFY(!PrivilegeHelper::currentUserName().isNull() || !own);
    QCOMPARE(PrivilegeHelper::isRunningAsRoot(), getuid() == 0);
    QCOMPARE(PrivilegeHelperPrivate::userName(0), QString("root"));

    for (const uid_t candidate : {2147483646u, 1999999999u, 987654321u}) {
        if (getpwuid(candidate))
            continue;
        QVERIFY(PrivilegeHelperPrivate::userName(candidate).isNull());
        return;
    }
    QSKIP("every candidate user id has a password-database entry");
}

// Each lookup owns its buffer: two threads never see each other's entry.
void TestPrivilegeHelper::userNamesFromTwoThreads()
{
    const passwd* other = getpwuid(65534);
    if (!other || !other->pw_name || QByteArray(other->pw_name) == "root")
        QSKIP("user id 65534 has no entry of its own");
    const QString otherName = QString::fromUtf8(other->pw_name);

    std::atomic<int> wrong{0};
    const auto lookUp = [&wrong](uid_t uid, const QString& name) {
        for (int i = 0; i < 20000; ++i) {
            if (PrivilegeHelperPrivate::userName(uid) != name)
                ++wrong;
        }
    };
    std::thread first(lookUp, 0, QStringLiteral("root"));
    std::thread second(lookUp, 65534, otherName);
    first.join();
    second.join();
    QCOMPARE(wrong.load(), 0);
}

// A child whose real and effective user ids differ: only the real one counts.
void TestPrivilegeHelper::realUserId_data()
{
    QTest::addColumn<uint>("realId");
    QTest::addColumn<uint>("effectiveId");
    QTest::addColumn<bool>("root");

    QTest::newRow("root") << 0u << 0u << true;
    QTest::newRow("real root, effective nobody") << 0u << 65534u << true;
    QTest::newRow("real nobody, effective root") << 65534u << 0u << false;
    QTest::newRow("nobody") << 65534u << 65534u << false;
}

void TestPrivilegeHelper::realUserId()
{
    QFETCH(uint, realId);
    QFETCH(uint, effectiveId);
    QFETCH(bool, root);

    if (getuid() != 0)
        QSKIP("changing the user ids of a child needs root");
    // A copy that every user may run, wherever the build tree lies.
    Sandbox sandbox;
    const QFileDevice::Permissions everyone = QFile::permissions("/bin/sh");
    const QString program = sandbox.path() + "/print-user";
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, everyone) && QFile::setPermissions(sandbox.path(), everyone));
    const QString closed = folderClosedToOthers(sandbox.path());
    if (effectiveId != 0 && !closed.isEmpty())
        QSKIP(qPrintable(QString("user %1 cannot enter %2, which holds the sandbox in TMPDIR; with TMPDIR set to a "
                                 "folder that every user may enter this case runs")
                             .arg(effectiveId)
                             .arg(closed)));

    QProcess child;
    child.setChildProcessModifier([realId, effectiveId] {
        if (setresuid(realId, effectiveId, 0) != 0)
            _exit(99);
    });
    child.start(program, {"--print-user"});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);

    const passwd* entry = getpwuid(realId);
    const QString name = entry ? QString::fromUtf8(entry->pw_name) : QStringLiteral("<null>");
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QString("%1 %2\n").arg(int(root)).arg(name));
}

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-user") == 0) {
        const QString name = PrivilegeHelper::currentUserName();
        std::printf("%d %s\n", PrivilegeHelper::isRunningAsRoot(), name.isNull() ? "<null>" : qPrintable(name));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestPrivilegeHelper test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PrivilegeHelper.moc"
