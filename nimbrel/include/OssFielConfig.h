#pragma once

#include "NimbrelExport.h"

#include <QObject>

namespace Nimbrel {

// Empty and spelt so on purpose: hosts built against the library name this class.
class NIMBREL_EXPORT OssFielConfig : public QObject
{
    Q_OBJECT

public:
    OssFielConfig();
};

} // namespace Nimbrel
