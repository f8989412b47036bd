#pragma once

#include <QtCore/qglobal.h>

// The library is built with hidden visibility; what a host may use is marked.
#if defined(NIMBREL_LIBRARY)
#define NIMBREL_EXPORT Q_DECL_EXPORT
#else
#define NIMBREL_EXPORT Q_DECL_IMPORT
#endif
