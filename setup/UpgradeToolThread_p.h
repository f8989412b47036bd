#pragma once

// What the decision and the hand-over of UpgradeToolThread::run share.

#include "UpgradeToolThread.h"

#include <QString>

struct UpgradeToolThread::RunState
{
    QString mainFolder;
    QString runFile;
    QString runId;
    QString exeFilePath;
    QString mainExeFilePath;
    QString toUpgradePath;
    QString upgradeFileVersion;
    bool isToUpgradeTool = false;
    bool upgradePerformed = false;
    bool isDecodeVideo = false;
    // The archive that start-up accepted was unpacked whole by this run, its program with it.
    bool upgradeProgramUnpacked = false;
};

namespace UpgradeToolThreadPrivate {

// Where the upgrade archive holds its Salvix Setup program, and where it is unpacked to.
extern const QString kUpgradeProgram;

// Paths compare in native separators, ignoring case.
bool samePath(const QString& a, const QString& b);

} // namespace UpgradeToolThreadPrivate
