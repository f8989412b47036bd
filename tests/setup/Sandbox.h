#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A temporary folder that stands in for the file system: SALVIX_ROOT (so "/Applications"
// lies under root/), HOME and TMPDIR point into it while the object lives.
class Sandbox
{
public:
    Sandbox()
    {
        // Each restores what it found; a second one made before the first goes would
        // leave the real HOME behind when the first is destroyed.
        if (s_active++ > 0)
            qFatal("Sandbox: another sandbox is still active");
        for (int i = 0; i < 3; ++i)
            m_saved[i] = qEnvironmentVariableIsSet(names[i]) ? qgetenv(names[i]) : QByteArray();
        QDir(m_dir.path()).mkpath(QStringLiteral("root/Applications"));
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
        QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
        qputenv("SALVIX_ROOT", root().toUtf8());
        qputenv("HOME", home().toUtf8());
        qputenv("TMPDIR", tmp().toUtf8());
    }

    ~Sandbox()
    {
        --s_active;
        for (int i = 0; i < 3; ++i) {
            if (m_saved[i].isNull())
                qunsetenv(names[i]);
            else
                qputenv(names[i], m_saved[i]);
        }
    }

    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString root() const { return m_dir.path() + QStringLiteral("/root"); }
    QString home() const { return m_dir.path() + QStringLiteral("/home"); }
    QString tmp() const { return m_dir.path() + QStringLiteral("/tmp"); }
    QString applications() const { return root() + QStringLiteral("/Applications"); }
    QString userFolder() const { return home() + QStringLiteral("/Library/Application Support/com.quilm.salvix"); }

    // Writes a file, creating its folders.
    static bool write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // An Info.plist with the two version keys (an empty value leaves the key out).
    static QByteArray infoPlist(const QString& shortVersion, const QString& bundleVersion = QString())
    {
        QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n<dict>\n"
                         "    <key>CFBundleName</key>\n    <string>Test</string>\n";
        if (!shortVersion.isNull())
            xml += "    <key>CFBundleShortVersionString</key>\n    <string>" + shortVersion.toUtf8() + "</string>\n";
        if (!bundleVersion.isNull())
            xml += "    <key>CFBundleVersion</key>\n    <string>" + bundleVersion.toUtf8() + "</string>\n";
        return xml + "</dict>\n</plist>\n";
    }

    static QByteArray sha1Hex(const QString& path)
    {
        return QCryptographicHash::hash(read(path), QCryptographicHash::Sha1).toHex();
    }

private:
    static inline int s_active = 0;
    static constexpr const char* names[3] = {"SALVIX_ROOT", "HOME", "TMPDIR"};

    QTemporaryDir m_dir;
    QByteArray m_saved[3];
};
