#pragma once

#include "NimbrelExport.h"

#include <QObject>

namespace Nimbrel {

class NIMBREL_EXPORT OssFielConfig : public QObject
{
    Q_OBJECT

public:
    OssFielConfig();
};

} // namespace Nimbrel
