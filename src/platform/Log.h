#pragma once

#include <QLoggingCategory>

// Internal failures a person need not see go to the system log under this category.
Q_DECLARE_LOGGING_CATEGORY(halvikLog)
