#pragma once

#include <QHash>
#include <QString>

namespace I18n {

// One row of the built-in record table; columns in this order.
struct TranslationRecord
{
    const char *source; // zh-Hans
    const char *en;
    const char *zhHant;
    const char *ru;
    const char *fr;
    const char *ko;
    const char *ja;
};

// The record table, scanned in order.
const TranslationRecord *builtinRecords(int *count);

// Language code -> (source -> translation), built on first use.
const QHash<QString, QHash<QString, QString>> &builtinLanguageMaps();

} // namespace I18n
