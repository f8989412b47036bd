#pragma once

#include <QString>
#include <QStringList>

// A fresh private folder (mode 0700) in the per-user folder, into which start-up unpacks
// a downloaded upgrade archive before anything in it is trusted. The folder goes, with
// whatever it still holds, when the object goes.
class UpgradeStaging
{
public:
    UpgradeStaging();
    ~UpgradeStaging();

    UpgradeStaging(const UpgradeStaging&) = delete;
    UpgradeStaging& operator=(const UpgradeStaging&) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_path; }

    // Moves every staged entry into folder, except those named in skip. False when folder
    // is not a folder of its own (a link to one included) or an entry cannot be moved.
    bool moveContentInto(const QString& folder, const QStringList& skip);

private:
    QString m_path;
    bool m_valid = false;
};

// Removes everything in folder but the entries named in keep, never following a link.
// False when folder is not a folder of its own or an entry stays.
bool removeEntriesExcept(const QString& folder, const QStringList& keep);
