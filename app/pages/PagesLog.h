// The logging category of the effect pages ("kelo.pages"), off by default:
// QT_LOGGING_RULES="kelo.pages.debug=true" shows what a page could not do (a file it could not
// load, a data.ini write that failed).
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPages)
